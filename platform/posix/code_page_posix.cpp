// POSIX backend of code_page.h: the thread's code page is UTF-8.
#include "platform/code_page.h"

#include "platform/posix/text_posix.h"

namespace tavrin::platform {

std::string toThreadCodePage(const std::u16string& text) { return posix::toUtf8(text.c_str(), text.size()); }

std::u16string fromThreadCodePage(const std::string& bytes) { return posix::fromUtf8(bytes); }

}  // namespace tavrin::platform
