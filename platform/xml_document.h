// The XML document object that configuration descriptions are read with: the system's XML DOM
// component on Windows (MSXML through COM), libxml2 elsewhere. Only what the loader needs, with
// the same results on both:
//
//   - nodes in document order; names exactly as written (with a prefix, "p:Name");
//   - the attributes of an element in document order, each with its value as text; namespace
//     declarations ("xmlns", "xmlns:p") count as attributes and come after the others (libxml2
//     keeps them apart from the attributes, and Wine's DOM component lists them last too; the
//     Windows component itself keeps them in document order, the same where they are written
//     last);
//   - text that is only whitespace between elements is not kept as a node; comments, character
//     data sections, processing instructions and other text are nodes ("#comment",
//     "#cdata-section", the target's name, "#text").
//
// A node is valid as long as its document; nodes and the document belong to one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tavrin::platform {

struct XmlAttribute {
    std::u16string name;
    std::u16string value;
};

class XmlNode {
public:
    virtual ~XmlNode() = default;

    virtual std::u16string name() const = 0;
    // The attributes of an element in document order (none for other nodes); false when the
    // list cannot be had.
    virtual bool attributes(std::vector<XmlAttribute>& out) const = 0;
    // The first child node, the next sibling node; null when there is none.
    virtual std::unique_ptr<XmlNode> firstChild() const = 0;
    virtual std::unique_ptr<XmlNode> nextSibling() const = 0;
    // The first child element with exactly this name; null when there is none.
    virtual std::unique_ptr<XmlNode> childElement(const std::u16string& name) const = 0;
};

class XmlDocument {
public:
    // An empty document; null when the XML component cannot be created (on Windows the calling
    // thread must have initialised COM, see XmlThreadScope).
    static std::unique_ptr<XmlDocument> create();
    virtual ~XmlDocument() = default;

    // Parses the whole file or text; false when it is not well-formed XML (or cannot be read).
    // The file's encoding comes from its byte-order mark or declaration; a text in memory is
    // already UTF-16, whatever its declaration says. No network access, no external entities.
    virtual bool loadFile(const std::u16string& path) = 0;
    virtual bool loadText(const std::u16string& text) = 0;

    // The root element of the loaded document; null before a successful load.
    virtual std::unique_ptr<XmlNode> documentElement() const = 0;
};

// What the XML component needs of the calling thread for as long as it is used: on Windows COM
// initialised in the multithreaded apartment (CoInitializeEx), undone at the end of the scope when
// it succeeded (also when COM was already initialised); nothing elsewhere.
class XmlThreadScope {
public:
    XmlThreadScope();
    ~XmlThreadScope();
    XmlThreadScope(const XmlThreadScope&) = delete;
    XmlThreadScope& operator=(const XmlThreadScope&) = delete;

    // Success or already initialised.
    bool ok() const { return ok_; }
    // The initialisation's result code (an HRESULT on Windows; 0 elsewhere).
    std::int32_t result() const { return result_; }

private:
    bool ok_ = true;
    std::int32_t result_ = 0;
};

}  // namespace tavrin::platform
