// POSIX backend of xml_document.h: libxml2's tree. Whitespace-only text nodes are skipped while
// walking (libxml2 keeps them), so that the walk sees what the Windows DOM component shows.
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <fstream>
#include <iterator>
#include <mutex>
#include <string>

#include "platform/posix/text_posix.h"
#include "platform/text_utf.h"
#include "platform/xml_document.h"

namespace tavrin::platform {

namespace {

// A description is a few kilobytes; anything far beyond is not one.
constexpr std::size_t kMaxFileBytes = 16u << 20;

constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using DocOwner = std::shared_ptr<xmlDoc>;

struct XmlCharFree {
    void operator()(xmlChar* text) const { xmlFree(text); }
};

std::u16string fromXml(const xmlChar* text) {
    if (text == nullptr) return {};
    return posix::fromUtf8(reinterpret_cast<const char*>(text));
}

bool isBlankText(const xmlNode* node) {
    if (node->type != XML_TEXT_NODE) return false;
    for (const xmlChar* c = node->content; c != nullptr && *c != 0; ++c)
        if (*c != ' ' && *c != '\t' && *c != '\r' && *c != '\n') return false;
    return true;
}

// The node itself or the next sibling after it that is not whitespace-only text.
xmlNode* visible(xmlNode* node) {
    while (node != nullptr && isBlankText(node)) node = node->next;
    return node;
}

std::u16string qualified(const xmlChar* prefix, const xmlChar* name) {
    std::u16string out;
    if (prefix != nullptr) {
        out = fromXml(prefix);
        out += u':';
    }
    out += fromXml(name);
    return out;
}

class PosixXmlNode final : public XmlNode {
public:
    PosixXmlNode(DocOwner doc, xmlNode* node) : doc_(std::move(doc)), node_(node) {}

    std::u16string name() const override {
        switch (node_->type) {
        case XML_ELEMENT_NODE: return qualified(node_->ns != nullptr ? node_->ns->prefix : nullptr, node_->name);
        case XML_TEXT_NODE: return u"#text";
        case XML_CDATA_SECTION_NODE: return u"#cdata-section";
        case XML_COMMENT_NODE: return u"#comment";
        default: return fromXml(node_->name);
        }
    }

    bool attributes(std::vector<XmlAttribute>& out) const override {
        out.clear();
        if (node_->type != XML_ELEMENT_NODE) return true;
        for (xmlAttr* a = node_->properties; a != nullptr; a = a->next) {
            std::unique_ptr<xmlChar, XmlCharFree> value(xmlNodeListGetString(doc_.get(), a->children, 1));
            out.push_back({qualified(a->ns != nullptr ? a->ns->prefix : nullptr, a->name), fromXml(value.get())});
        }
        for (const xmlNs* ns = node_->nsDef; ns != nullptr; ns = ns->next)
            out.push_back({qualified(ns->prefix != nullptr ? BAD_CAST "xmlns" : nullptr,
                                     ns->prefix != nullptr ? ns->prefix : BAD_CAST "xmlns"),
                           fromXml(ns->href)});
        return true;
    }

    std::unique_ptr<XmlNode> firstChild() const override { return wrap(visible(node_->children)); }
    std::unique_ptr<XmlNode> nextSibling() const override { return wrap(visible(node_->next)); }

    std::unique_ptr<XmlNode> childElement(const std::u16string& name) const override {
        for (xmlNode* c = node_->children; c != nullptr; c = c->next) {
            if (c->type != XML_ELEMENT_NODE) continue;
            PosixXmlNode candidate(doc_, c);
            if (candidate.name() == name) return wrap(c);
        }
        return nullptr;
    }

private:
    std::unique_ptr<XmlNode> wrap(xmlNode* node) const {
        if (node == nullptr) return nullptr;
        return std::make_unique<PosixXmlNode>(doc_, node);
    }

    DocOwner doc_;  // nodes keep their document alive
    xmlNode* node_;
};

class PosixXmlDocument final : public XmlDocument {
public:
    bool loadFile(const std::u16string& path) override {
        std::ifstream in(posix::toUtf8(path.c_str()), std::ios::binary);  // strict: "" opens nothing
        if (!in) return false;
        std::string bytes;
        char chunk[4096];
        while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
            bytes.append(chunk, static_cast<std::size_t>(in.gcount()));
            if (bytes.size() > kMaxFileBytes) return false;
        }
        if (in.bad()) return false;
        return parse(bytes, nullptr, kParseOptions);
    }

    bool loadText(const std::u16string& text) override {
        // Already decoded: a declared encoding does not apply any more.
        return parse(utf::utf16ToUtf8Lossy(text), "UTF-8", kParseOptions | XML_PARSE_IGNORE_ENC);
    }

    std::unique_ptr<XmlNode> documentElement() const override {
        if (!doc_) return nullptr;
        xmlNode* root = xmlDocGetRootElement(doc_.get());
        if (root == nullptr) return nullptr;
        return std::make_unique<PosixXmlNode>(doc_, root);
    }

private:
    bool parse(const std::string& bytes, const char* encoding, int options) {
        doc_.reset();
        if (bytes.size() > kMaxFileBytes) return false;
        xmlDoc* doc = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, encoding, options);
        if (doc == nullptr) return false;
        doc_ = DocOwner(doc, DocFree{});
        return true;
    }

    DocOwner doc_;
};

}  // namespace

std::unique_ptr<XmlDocument> XmlDocument::create() {
    static std::once_flag initialised;
    std::call_once(initialised, [] { xmlInitParser(); });
    return std::make_unique<PosixXmlDocument>();
}

XmlThreadScope::XmlThreadScope() = default;
XmlThreadScope::~XmlThreadScope() = default;

}  // namespace tavrin::platform
