// The eight device methods as the service takes them: their parameters by name from a JSON object,
// checked for type and range before anything reaches a device; who owns which device handle; and
// the call itself through the browser control's methods, whose texts the service answers with.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace tavrin::service {

enum class Method { EnumDevPath, EnumProtoCode, OpenDev, DevIoCtrl, CloseDev, GetDevType, GetCfgInfo, SetCfgInfo };

std::optional<Method> methodByName(std::string_view name);
const char* methodName(Method method);

// One call with its arguments (the fields its method takes; the others stay as they are).
struct Call {
    Method method = Method::EnumProtoCode;
    std::int32_t portType = 0, vID = 0, pID = 0, idx = 0, readTimeout = 0, writeTimeout = 0, portMode = 0;
    std::int32_t handle = -1;  // pHandle, hDev or handle, by method
    std::u16string pathStr, path, ctrlCode, inDats, name, val;
};

struct ParsedCall {
    std::optional<Call> call;
    std::string error;  // why the parameters were refused (the answer's message), when not taken
};

// params must be a JSON object holding exactly the method's parameters, by the control's names:
// numbers as JSON integers in the 32-bit signed range, texts as JSON strings. pathStr of
// EnumDevPath may be left out (it has no effect).
ParsedCall parseCall(Method method, const nlohmann::json& params);
// The same from a request body; a body that is not JSON is refused with the parser's message.
ParsedCall parseCallBody(Method method, std::string_view body);

// The methods the service calls: the browser control's, over the bridge. An interface so that
// the rules above can be checked with a recording stand-in.
class DeviceMethods {
public:
    virtual ~DeviceMethods() = default;
    virtual std::u16string enumDevPath(std::int32_t portType, const std::u16string& pathStr, std::int32_t vID,
                                       std::int32_t pID) = 0;
    virtual std::u16string enumProtoCode(std::int32_t idx) = 0;
    virtual std::int32_t openDev(const std::u16string& path, std::int32_t readTimeout, std::int32_t writeTimeout,
                                 std::int32_t portType, std::int32_t portMode) = 0;
    virtual std::u16string devIoCtrl(const std::u16string& ctrlCode, const std::u16string& inDats,
                                     std::int32_t handle) = 0;
    virtual bool closeDev(std::int32_t pHandle) = 0;
    virtual std::u16string getDevType(std::int32_t hDev) = 0;
    virtual std::u16string getCfgInfo(std::int32_t hDev) = 0;
    virtual std::u16string setCfgInfo(std::int32_t hDev, const std::u16string& name, const std::u16string& val) = 0;
};

// Who makes a call: the page's origin ("" for a program without one) and its WebSocket
// (0 for plain HTTP requests).
struct Caller {
    std::string origin;
    std::uint64_t socket = 0;
};

// What a call gives: the control's text, the handle of OpenDev or the flag of CloseDev; or a
// refusal (status 403) with its message.
struct Outcome {
    int status = 200;
    std::string error;
    std::variant<std::string, std::int32_t, bool> result;
};

// Runs calls and remembers which origin (and WebSocket) opened each device handle. A handle
// opened by one origin answers 403 to every other. The device library looks only at the low 16
// bits of a handle, so ownership goes by those too. Thread-safe; calls are run one at a time.
class Dispatcher {
public:
    explicit Dispatcher(DeviceMethods& methods) : methods_(methods) {}

    Outcome run(const Call& call, const Caller& caller);
    // Closes every device the WebSocket opened that is still open (kEverySocket: that any
    // WebSocket opened); returns their handles.
    static constexpr std::uint64_t kEverySocket = ~std::uint64_t{0};
    std::vector<std::int32_t> closeSocketDevices(std::uint64_t socket);
    std::size_t openCount() const;

private:
    struct Owner {
        std::string origin;
        std::uint64_t socket;
    };
    static std::uint16_t slotOf(std::int32_t handle) { return static_cast<std::uint16_t>(handle & 0xFFFF); }

    DeviceMethods& methods_;
    std::mutex callMutex_;             // one call at a time
    mutable std::mutex ownersMutex_;   // owners_ only, never held during a call
    std::map<std::uint16_t, Owner> owners_;
};

// UTF-8 for the wire; what is not well-formed UTF-16 shows as U+FFFD.
std::string toWire(const std::u16string& text);

}  // namespace tavrin::service
