// The XML document object behind the configuration loader. The same cases run against the
// system's DOM component on Windows and libxml2 elsewhere and must give the same answers.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/xml_document.h"
#include "tests/support/library_under_test.h"

namespace tavrin::platform {
namespace {

std::string utf8(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// The names of the child nodes of a node, in order, as the walk sees them.
std::vector<std::string> childNames(const XmlNode& node) {
    std::vector<std::string> names;
    for (auto child = node.firstChild(); child; child = child->nextSibling()) names.push_back(utf8(child->name()));
    return names;
}

std::vector<std::string> attributeList(const XmlNode& node) {
    std::vector<XmlAttribute> attributes;
    EXPECT_TRUE(node.attributes(attributes));
    std::vector<std::string> out;
    for (const auto& a : attributes) out.push_back(utf8(a.name) + "=" + utf8(a.value));
    return out;
}

class XmlDocumentTest : public ::testing::Test {
protected:
    std::unique_ptr<XmlDocument> loaded(const std::u16string& text) {
        auto doc = XmlDocument::create();
        EXPECT_TRUE(doc);
        if (doc && !doc->loadText(text)) return nullptr;
        return doc;
    }

    XmlThreadScope com_;
};

TEST_F(XmlDocumentTest, NodesInDocumentOrderWithoutBlankText) {
    ASSERT_TRUE(com_.ok());
    const std::u16string text = uR"(<?xml version="1.0"?>
<Root z="1" a="2" m="">
  <First/>
  <!-- a remark -->
  <p:Second xmlns:p="urn:x"/>
  text between
  <![CDATA[raw]]>
  <?note here?>
  <First k="v">inner</First>
</Root>)";
    auto doc = loaded(text);
    ASSERT_TRUE(doc);
    auto root = doc->documentElement();
    ASSERT_TRUE(root);
    EXPECT_EQ(utf8(root->name()), "Root");
    EXPECT_EQ(attributeList(*root), (std::vector<std::string>{"z=1", "a=2", "m="}));
    EXPECT_EQ(childNames(*root), (std::vector<std::string>{"First", "#comment", "p:Second", "#text",
                                                           "#cdata-section", "note", "First"}));

    auto second = root->childElement(u"First");
    ASSERT_TRUE(second);
    EXPECT_TRUE(attributeList(*second).empty()) << "the first of the two";
    EXPECT_FALSE(root->childElement(u"first")) << "names are compared exactly";
    EXPECT_FALSE(root->childElement(u"Second")) << "the prefix is part of the name";
    EXPECT_TRUE(root->childElement(u"p:Second"));
    EXPECT_FALSE(root->childElement(u"#comment")) << "elements only";

    // The last child element holds text.
    auto node = root->firstChild();
    while (node->nextSibling()) node = node->nextSibling();
    EXPECT_EQ(attributeList(*node), std::vector<std::string>{"k=v"});
    EXPECT_EQ(childNames(*node), std::vector<std::string>{"#text"});
    EXPECT_FALSE(node->firstChild()->firstChild());
    std::vector<XmlAttribute> none;
    EXPECT_TRUE(node->firstChild()->attributes(none));
    EXPECT_TRUE(none.empty());
}

TEST_F(XmlDocumentTest, AttributeValuesAsText) {
    // Namespace declarations are listed with the attributes, after the others.
    auto doc = loaded(uR"(<R b="&lt;&amp;&#x4E2D;" a="  spaced  " q:c="3" xmlns:q="urn:q"/>)");
    ASSERT_TRUE(doc);
    auto root = doc->documentElement();
    ASSERT_TRUE(root);
    std::vector<XmlAttribute> attributes;
    ASSERT_TRUE(root->attributes(attributes));
    ASSERT_EQ(attributes.size(), 4u);
    EXPECT_EQ(attributes[0].value, u"<&\u4E2D");
    EXPECT_EQ(attributes[1].value, u"  spaced  ");
    EXPECT_EQ(attributes[2].name, u"q:c");
    EXPECT_EQ(attributes[3].name, u"xmlns:q");
    EXPECT_EQ(attributes[3].value, u"urn:q");
}

TEST_F(XmlDocumentTest, TextInMemoryIgnoresItsDeclaredEncoding) {
    // The text is UTF-16 already; a declaration left over from the bytes it came from is moot.
    for (const char16_t* declaration : {u"<?xml version=\"1.0\" encoding=\"GB2312\"?>", u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
                                        u"<?xml version=\"1.0\" encoding='utf-16' standalone=\"yes\"?>",
                                        u"<?xml version=\"1.0\"?>", u""}) {
        auto doc = loaded(std::u16string(declaration) + u"<R n=\"\u4E2D\u6587\"/>");
        ASSERT_TRUE(doc) << utf8(declaration);
        auto root = doc->documentElement();
        ASSERT_TRUE(root);
        EXPECT_EQ(attributeList(*root), std::vector<std::string>{"n=" + utf8(u"\u4E2D\u6587")}) << utf8(declaration);
    }
}

TEST_F(XmlDocumentTest, FilesInTheirOwnEncoding) {
    const auto folder = test::makeTempFolder("xml");
    const struct {
        const char* name;
        std::string bytes;
    } files[] = {
        {"plain.xml", "<R n=\"" + utf8(u"\u6253\u5F00") + "\"/>"},
        {"bom.xml", "\xEF\xBB\xBF<R n=\"" + utf8(u"\u6253\u5F00") + "\"/>"},
        {"declared.xml", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><R n=\"\xE9\xE9\"/>"},
    };
    const std::string expected[] = {"n=" + utf8(u"\u6253\u5F00"), "n=" + utf8(u"\u6253\u5F00"), "n=" + utf8(u"\u00E9\u00E9")};
    for (std::size_t i = 0; i < std::size(files); ++i) {
        std::ofstream(folder / files[i].name, std::ios::binary) << files[i].bytes;
        auto doc = XmlDocument::create();
        ASSERT_TRUE(doc);
        ASSERT_TRUE(doc->loadFile((folder / files[i].name).u16string())) << files[i].name;
        auto root = doc->documentElement();
        ASSERT_TRUE(root);
        EXPECT_EQ(attributeList(*root), std::vector<std::string>{expected[i]}) << files[i].name;
    }
    std::filesystem::remove_all(folder);
}

TEST_F(XmlDocumentTest, WhatIsNotADocument) {
    const std::u16string broken[] = {u"", u"<R>", u"<R></S>", u"just text", u"<R/><R/>", u"<R a=\"1\" a=\"2\"/>"};
    for (const auto& text : broken) {
        auto doc = XmlDocument::create();
        ASSERT_TRUE(doc);
        EXPECT_FALSE(doc->loadText(text)) << utf8(text);
        EXPECT_FALSE(doc->documentElement()) << utf8(text);
    }
    auto doc = XmlDocument::create();
    ASSERT_TRUE(doc);
    EXPECT_FALSE(doc->loadFile(u"no-such-folder/no-such-file.xml"));
    EXPECT_FALSE(doc->documentElement());
    // A document loaded after a failed one.
    EXPECT_TRUE(doc->loadText(u"<R/>"));
    ASSERT_TRUE(doc->documentElement());
    EXPECT_TRUE(childNames(*doc->documentElement()).empty());
}

}  // namespace
}  // namespace tavrin::platform
