// Win32 backend of notify_window.h: a message-only window of the creating thread; pump() runs
// that thread's message loop and takes the WM_DFU_NOTIFY messages posted to the window.
#include "platform/notify_window.h"

#include "platform/win32/windows_api.h"

namespace tavrin::platform {

namespace {
constexpr UINT kDfuNotify = 0x0500;
constexpr const wchar_t* kClassName = L"TavrinDfuNotifyWindow";

bool registerClassOnce() {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClassName;
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}
}  // namespace

struct NotifyWindow::State {
    HWND window = nullptr;
};

NotifyWindow::NotifyWindow() : state_(std::make_unique<State>()) {
    if (registerClassOnce())
        state_->window = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                         GetModuleHandleW(nullptr), nullptr);
}

NotifyWindow::~NotifyWindow() {
    if (state_->window != nullptr) DestroyWindow(state_->window);
}

bool NotifyWindow::valid() const { return state_->window != nullptr; }

void* NotifyWindow::target() { return state_->window; }

void NotifyWindow::deliver(const DfuNotification& n) {
    std::lock_guard<std::mutex> guard(lock_);
    received_.push_back(n);
}

std::size_t NotifyWindow::pump(int timeoutMs) {
    std::size_t count = 0;
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, state_->window, 0, 0, PM_REMOVE)) {
            if (msg.message == kDfuNotify) {
                const DfuNotification n{static_cast<std::uint32_t>(msg.wParam), static_cast<std::intptr_t>(msg.lParam)};
                deliver(n);
                if (onEach_) onEach_(n);
                ++count;
            } else {
                DispatchMessageW(&msg);
            }
        }
        const DWORD spent = GetTickCount() - start;
        if (count != 0 || spent >= static_cast<DWORD>(timeoutMs)) return count;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(timeoutMs) - spent, QS_ALLPOSTMESSAGE);
    }
}

std::vector<DfuNotification> NotifyWindow::received() {
    std::lock_guard<std::mutex> guard(lock_);
    return received_;
}

}  // namespace tavrin::platform
