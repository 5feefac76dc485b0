// POSIX backend of code_page.h: the thread's code page is UTF-8. What does not convert (an unpaired
// surrogate, bytes that are not well-formed UTF-8) becomes U+FFFD, as a code page's replacement.
#include "platform/code_page.h"

#include "platform/text_utf.h"

namespace tavrin::platform {

std::string toThreadCodePage(const std::u16string& text) { return utf::utf16ToUtf8Lossy(text); }

std::u16string fromThreadCodePage(const std::string& bytes) { return utf::utf8ToUtf16Lossy(bytes); }

}  // namespace tavrin::platform
