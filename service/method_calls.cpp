// Parameters, ownership and the calls themselves (see method_calls.h).
#include "service/method_calls.h"

#include <limits>

#include <nlohmann/json.hpp>

#include "platform/text_utf.h"

namespace tavrin::service {
namespace {

using Json = nlohmann::json;

enum class Kind { Int, Text, OptionalText };

struct Parameter {
    const char* name;
    Kind kind;
    std::int32_t Call::*number;
    std::u16string Call::*text;
};

struct MethodRow {
    Method method;
    const char* name;
    std::vector<Parameter> parameters;  // in the control's order
};

Parameter integer(const char* name, std::int32_t Call::*field) { return {name, Kind::Int, field, nullptr}; }
Parameter text(const char* name, std::u16string Call::*field) { return {name, Kind::Text, nullptr, field}; }

const std::vector<MethodRow>& methodTable() {
    static const std::vector<MethodRow> rows = {
        {Method::EnumDevPath,
         "EnumDevPath",
         {integer("portType", &Call::portType), {"pathStr", Kind::OptionalText, nullptr, &Call::pathStr},
          integer("vID", &Call::vID), integer("pID", &Call::pID)}},
        {Method::EnumProtoCode, "EnumProtoCode", {integer("idx", &Call::idx)}},
        {Method::OpenDev,
         "OpenDev",
         {text("path", &Call::path), integer("readTimeout", &Call::readTimeout),
          integer("writeTimeout", &Call::writeTimeout), integer("portType", &Call::portType),
          integer("portMode", &Call::portMode)}},
        {Method::DevIoCtrl,
         "DevIoCtrl",
         {text("ctrlCode", &Call::ctrlCode), text("inDats", &Call::inDats), integer("handle", &Call::handle)}},
        {Method::CloseDev, "CloseDev", {integer("pHandle", &Call::handle)}},
        {Method::GetDevType, "GetDevType", {integer("hDev", &Call::handle)}},
        {Method::GetCfgInfo, "GetCfgInfo", {integer("hDev", &Call::handle)}},
        {Method::SetCfgInfo,
         "SetCfgInfo",
         {integer("hDev", &Call::handle), text("name", &Call::name), text("val", &Call::val)}},
    };
    return rows;
}

const MethodRow& rowOf(Method method) {
    for (const MethodRow& row : methodTable())
        if (row.method == method) return row;
    return methodTable().front();
}

const char* typeName(const Json& value) {
    switch (value.type()) {
    case Json::value_t::null: return "null";
    case Json::value_t::boolean: return "a boolean";
    case Json::value_t::number_float: return "a fractional number";
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned: return "an integer";
    case Json::value_t::string: return "a string";
    case Json::value_t::array: return "an array";
    case Json::value_t::object: return "an object";
    default: return "something else";
    }
}

}  // namespace

std::optional<Method> methodByName(std::string_view name) {
    for (const MethodRow& row : methodTable())
        if (name == row.name) return row.method;
    return std::nullopt;
}

const char* methodName(Method method) { return rowOf(method).name; }

ParsedCall parseCall(Method method, const Json& params) {
    ParsedCall r;
    const MethodRow& row = rowOf(method);
    if (!params.is_object()) {
        r.error = std::string(row.name) + ": the parameters must be a JSON object, not " + typeName(params);
        return r;
    }
    for (const auto& item : params.items()) {
        bool known = false;
        for (const Parameter& p : row.parameters) known = known || item.key() == p.name;
        if (!known) {
            r.error = std::string(row.name) + ": unknown parameter \"" + item.key() + "\"";
            return r;
        }
    }
    Call call;
    call.method = method;
    for (const Parameter& p : row.parameters) {
        const auto found = params.find(p.name);
        const std::string where = std::string(row.name) + ": parameter \"" + p.name + "\"";
        if (found == params.end()) {
            if (p.kind == Kind::OptionalText) continue;
            r.error = where + " is missing";
            return r;
        }
        const Json& value = *found;
        if (p.kind == Kind::Int) {
            if (!value.is_number_integer()) {
                r.error = where + " must be an integer, not " + std::string(typeName(value));
                return r;
            }
            const bool inRange =
                value.is_number_unsigned()
                    ? value.get<std::uint64_t>() <= static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())
                    : value.get<std::int64_t>() >= std::numeric_limits<std::int32_t>::min() &&
                          value.get<std::int64_t>() <= std::numeric_limits<std::int32_t>::max();
            if (!inRange) {
                r.error = where + " is outside the 32-bit signed range";
                return r;
            }
            call.*(p.number) = static_cast<std::int32_t>(value.get<std::int64_t>());
        } else {
            if (!value.is_string()) {
                r.error = where + " must be a string, not " + std::string(typeName(value));
                return r;
            }
            const std::string& utf8 = value.get_ref<const std::string&>();
            if (utf8.find('\0') != std::string::npos) {
                r.error = where + " must not contain a NUL character";
                return r;
            }
            auto wide = utf::utf8ToUtf16(utf8);
            if (!wide) {
                r.error = where + " is not well-formed text";
                return r;
            }
            call.*(p.text) = std::move(*wide);
        }
    }
    r.call = std::move(call);
    return r;
}

ParsedCall parseCallBody(Method method, std::string_view body) {
    Json params = Json::parse(body.begin(), body.end(), nullptr, false);
    if (params.is_discarded()) {
        ParsedCall r;
        r.error = std::string(methodName(method)) + ": the body is not well-formed JSON";
        // The parser's own account says where.
        try {
            const Json again = Json::parse(body.begin(), body.end());
            (void)again;
        } catch (const Json::exception& e) {
            // A syntax error, or a number too large for any type (out_of_range, not parse_error).
            std::string what = e.what();
            const std::size_t at = what.find("] ");
            r.error += " (" + (at == std::string::npos ? what : what.substr(at + 2)) + ")";
        }
        return r;
    }
    return parseCall(method, params);
}

Outcome Dispatcher::run(const Call& call, const Caller& caller) {
    std::lock_guard<std::mutex> callLock(callMutex_);
    Outcome out;
    const bool takesHandle = call.method == Method::DevIoCtrl || call.method == Method::CloseDev ||
                             call.method == Method::GetDevType || call.method == Method::GetCfgInfo ||
                             call.method == Method::SetCfgInfo;
    if (takesHandle) {
        std::lock_guard<std::mutex> lock(ownersMutex_);
        const auto owner = owners_.find(slotOf(call.handle));
        if (owner != owners_.end() && owner->second.origin != caller.origin) {
            out.status = 403;
            out.error = std::string(methodName(call.method)) + ": device handle " + std::to_string(call.handle) +
                        " was opened by another page";
            return out;
        }
    }
    switch (call.method) {
    case Method::EnumDevPath:
        out.result = toWire(methods_.enumDevPath(call.portType, call.pathStr, call.vID, call.pID));
        break;
    case Method::EnumProtoCode: out.result = toWire(methods_.enumProtoCode(call.idx)); break;
    case Method::OpenDev: {
        const std::int32_t h =
            methods_.openDev(call.path, call.readTimeout, call.writeTimeout, call.portType, call.portMode);
        if (h != -1) {
            std::lock_guard<std::mutex> lock(ownersMutex_);
            owners_[slotOf(h)] = Owner{caller.origin, caller.socket};
        }
        out.result = h;
        break;
    }
    case Method::DevIoCtrl: out.result = toWire(methods_.devIoCtrl(call.ctrlCode, call.inDats, call.handle)); break;
    case Method::CloseDev: {
        const bool closed = methods_.closeDev(call.handle);
        std::lock_guard<std::mutex> lock(ownersMutex_);
        owners_.erase(slotOf(call.handle));  // closed now, or it was not open anyway
        out.result = closed;
        break;
    }
    case Method::GetDevType: out.result = toWire(methods_.getDevType(call.handle)); break;
    case Method::GetCfgInfo: out.result = toWire(methods_.getCfgInfo(call.handle)); break;
    case Method::SetCfgInfo: out.result = toWire(methods_.setCfgInfo(call.handle, call.name, call.val)); break;
    }
    return out;
}

std::vector<std::int32_t> Dispatcher::closeSocketDevices(std::uint64_t socket) {
    std::lock_guard<std::mutex> callLock(callMutex_);
    std::vector<std::int32_t> closed;
    {
        std::lock_guard<std::mutex> lock(ownersMutex_);
        for (auto it = owners_.begin(); it != owners_.end();) {
            const bool ofSocket = it->second.socket != 0 && (socket == kEverySocket || it->second.socket == socket);
            if (ofSocket) {
                closed.push_back(it->first);
                it = owners_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (std::int32_t h : closed) methods_.closeDev(h);
    return closed;
}

std::size_t Dispatcher::openCount() const {
    std::lock_guard<std::mutex> lock(ownersMutex_);
    return owners_.size();
}

std::string toWire(const std::u16string& text) { return utf::utf16ToUtf8Lossy(text); }

}  // namespace tavrin::service
