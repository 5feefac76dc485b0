// Win32 backend of xml_document.h: the system's XML DOM component (the version-independent DOM
// document class, CLSID_DOMDocument) through COM. The parser drops whitespace-only text itself
// (preserveWhiteSpace is off); loads are synchronous; no DTD validation, no external entities.
#include "platform/win32/windows_api.h"

#include <ole2.h>
#include <msxml.h>

#include <string>

#include "platform/xml_document.h"

namespace tavrin::platform {

namespace {

// Owns one reference to a COM object.
template <typename T>
class ComRef {
public:
    ComRef() = default;
    explicit ComRef(T* p) : p_(p) {}
    ~ComRef() { reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ComRef(ComRef&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    ComRef& operator=(ComRef&& other) noexcept {
        if (this != &other) {
            reset();
            p_ = other.p_;
            other.p_ = nullptr;
        }
        return *this;
    }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For an out-parameter: the reference held so far is released first.
    T** put() {
        reset();
        return &p_;
    }
    void reset() {
        if (p_ != nullptr) p_->Release();
        p_ = nullptr;
    }

private:
    T* p_ = nullptr;
};

// Owns a BSTR.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const std::u16string& text)
        : b_(SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()))) {}
    ~Bstr() { SysFreeString(b_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;

    BSTR get() const { return b_; }
    BSTR* put() {
        SysFreeString(b_);
        b_ = nullptr;
        return &b_;
    }
    std::u16string text() const {
        if (b_ == nullptr) return {};
        return std::u16string(reinterpret_cast<const char16_t*>(b_), SysStringLen(b_));
    }

private:
    BSTR b_ = nullptr;
};

// Owns a VARIANT.
class Variant {
public:
    Variant() { VariantInit(&v_); }
    ~Variant() { VariantClear(&v_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    VARIANT* get() { return &v_; }

private:
    VARIANT v_;
};

// The text of a document without the encoding named in its XML declaration: the text is UTF-16
// already, and the component refuses to load one that declares another encoding.
std::u16string withoutDeclaredEncoding(const std::u16string& text) {
    std::size_t start = text.compare(0, 1, u"\uFEFF") == 0 ? 1 : 0;
    if (text.compare(start, 5, u"<?xml") != 0) return text;
    const std::size_t end = text.find(u"?>", start);
    if (end == std::u16string::npos) return text;
    const std::size_t name = text.find(u"encoding", start);
    if (name == std::u16string::npos || name > end) return text;
    std::size_t at = name + 8;
    while (at < end && (text[at] == u' ' || text[at] == u'\t' || text[at] == u'\r' || text[at] == u'\n')) ++at;
    if (at >= end || text[at] != u'=') return text;
    ++at;
    while (at < end && (text[at] == u' ' || text[at] == u'\t' || text[at] == u'\r' || text[at] == u'\n')) ++at;
    if (at >= end || (text[at] != u'"' && text[at] != u'\'')) return text;
    const std::size_t close = text.find(text[at], at + 1);
    if (close == std::u16string::npos || close >= end) return text;
    std::size_t from = name;
    while (from > start && (text[from - 1] == u' ' || text[from - 1] == u'\t' || text[from - 1] == u'\r' ||
                            text[from - 1] == u'\n'))
        --from;
    std::u16string out = text;
    out.erase(from, close + 1 - from);
    return out;
}

std::u16string nodeName(IXMLDOMNode* node) {
    Bstr name;
    if (FAILED(node->get_nodeName(name.put()))) return {};
    return name.text();
}

class ComXmlNode final : public XmlNode {
public:
    explicit ComXmlNode(ComRef<IXMLDOMNode> node) : node_(std::move(node)) {}

    std::u16string name() const override { return nodeName(node_.get()); }

    bool attributes(std::vector<XmlAttribute>& out) const override {
        out.clear();
        ComRef<IXMLDOMNamedNodeMap> map;
        const HRESULT hr = node_->get_attributes(map.put());
        if (FAILED(hr)) return false;
        if (!map) return true;  // not an element: no attributes
        long count = 0;
        if (FAILED(map->get_length(&count))) return false;
        for (long i = 0; i < count; ++i) {
            ComRef<IXMLDOMNode> attribute;
            if (map->get_item(i, attribute.put()) != S_OK || !attribute) return false;
            Variant value;
            if (FAILED(attribute->get_nodeValue(value.get()))) return false;
            XmlAttribute a{nodeName(attribute.get()), {}};
            if (value.get()->vt == VT_BSTR && value.get()->bstrVal != nullptr)
                a.value.assign(reinterpret_cast<const char16_t*>(value.get()->bstrVal), SysStringLen(value.get()->bstrVal));
            out.push_back(std::move(a));
        }
        return true;
    }

    std::unique_ptr<XmlNode> firstChild() const override {
        ComRef<IXMLDOMNode> child;
        if (node_->get_firstChild(child.put()) != S_OK || !child) return nullptr;
        return std::make_unique<ComXmlNode>(std::move(child));
    }

    std::unique_ptr<XmlNode> nextSibling() const override {
        ComRef<IXMLDOMNode> next;
        if (node_->get_nextSibling(next.put()) != S_OK || !next) return nullptr;
        return std::make_unique<ComXmlNode>(std::move(next));
    }

    std::unique_ptr<XmlNode> childElement(const std::u16string& name) const override {
        ComRef<IXMLDOMNode> child;
        if (node_->get_firstChild(child.put()) != S_OK) return nullptr;
        while (child) {
            DOMNodeType type = NODE_INVALID;
            if (SUCCEEDED(child->get_nodeType(&type)) && type == NODE_ELEMENT && nodeName(child.get()) == name)
                return std::make_unique<ComXmlNode>(std::move(child));
            ComRef<IXMLDOMNode> next;
            if (child->get_nextSibling(next.put()) != S_OK) return nullptr;
            child = std::move(next);
        }
        return nullptr;
    }

private:
    ComRef<IXMLDOMNode> node_;
};

class ComXmlDocument final : public XmlDocument {
public:
    explicit ComXmlDocument(ComRef<IXMLDOMDocument> doc) : doc_(std::move(doc)) {
        doc_->put_async(VARIANT_FALSE);
        doc_->put_validateOnParse(VARIANT_FALSE);
        doc_->put_resolveExternals(VARIANT_FALSE);
        doc_->put_preserveWhiteSpace(VARIANT_FALSE);
    }

    bool loadFile(const std::u16string& path) override {
        Variant source;
        source.get()->vt = VT_BSTR;
        source.get()->bstrVal =
            SysAllocStringLen(reinterpret_cast<const OLECHAR*>(path.data()), static_cast<UINT>(path.size()));
        if (source.get()->bstrVal == nullptr) return false;
        VARIANT_BOOL ok = VARIANT_FALSE;
        return doc_->load(*source.get(), &ok) == S_OK && ok == VARIANT_TRUE;
    }

    bool loadText(const std::u16string& text) override {
        const Bstr source(withoutDeclaredEncoding(text));
        if (source.get() == nullptr && !text.empty()) return false;
        VARIANT_BOOL ok = VARIANT_FALSE;
        return doc_->loadXML(source.get(), &ok) == S_OK && ok == VARIANT_TRUE;
    }

    std::unique_ptr<XmlNode> documentElement() const override {
        ComRef<IXMLDOMElement> root;
        if (doc_->get_documentElement(root.put()) != S_OK || !root) return nullptr;
        ComRef<IXMLDOMNode> node;
        if (FAILED(root->QueryInterface(IID_IXMLDOMNode, reinterpret_cast<void**>(node.put()))) || !node)
            return nullptr;
        return std::make_unique<ComXmlNode>(std::move(node));
    }

private:
    ComRef<IXMLDOMDocument> doc_;
};

}  // namespace

std::unique_ptr<XmlDocument> XmlDocument::create() {
    ComRef<IXMLDOMDocument> doc;
    const HRESULT hr = CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                        IID_IXMLDOMDocument, reinterpret_cast<void**>(doc.put()));
    if (FAILED(hr) || !doc) return nullptr;
    return std::make_unique<ComXmlDocument>(std::move(doc));
}

XmlThreadScope::XmlThreadScope() {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    result_ = static_cast<std::int32_t>(hr);
    ok_ = hr == S_OK || hr == S_FALSE;
}

XmlThreadScope::~XmlThreadScope() {
    if (ok_) CoUninitialize();
}

}  // namespace tavrin::platform
