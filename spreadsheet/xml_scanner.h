#pragma once
// A quick reader of the XML parts and documents, the first to read each of
// them. It vouches only for documents in the plain form the writers use:
// UTF-8, no document type declaration, ASCII names, the five predefined
// entities and character references. Whatever lies outside that form, or
// breaks a rule, makes it unsure, never wrong: the caller then has the XML
// parser decide. So where the scanner calls a document sound, the parser does
// too, and what it hands a handler (starts and ends of elements with their
// attributes, and text) is what the parser would hand it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/xml_stream.h"

namespace ratemover::spreadsheet {

class XmlScanner {
 public:
  // The pieces of a part in order; false once the scanner is unsure (and from
  // then on: it reads no more).
  bool Feed(const std::uint8_t* data, std::size_t size);
  // The end of the part: true when the whole part is sound.
  bool Finish();
  bool Unsure() const { return unsure_; }

  // Elements started and ended so far (an empty-element tag counts as both).
  std::uint64_t Starts() const { return starts_; }
  std::uint64_t Ends() const { return ends_; }

  // Bytes of text handed to the handler since the last start or end.
  std::uint64_t TextSinceEvent() const { return textSinceEvent_; }

  // The starts and ends of elements and the text go to the handler, from the
  // first byte on, until it stops or fails; once it skims, only elements
  // nested at most as deep as it asks, and no text. Namespaces are resolved;
  // attribute values and text are decoded and their line ends normalized as
  // the parser does; namespace declarations are no attributes. Text goes out
  // as it is read, in pieces of any size.
  void Deliver(XmlHandler* handler) { handler_ = handler; }

 private:
  // More: a construct that finds its own end (the declaration, a comment, a
  // CDATA section, a processing instruction) does not end in the text yet.
  enum class Step { Done, More, Unsure };
  struct Attribute {
    std::size_t name = 0, nameLength = 0, prefixLength = 0;  // within the buffer
    std::size_t value = 0, valueLength = 0;
    bool plain = true;  // the value needs no decoding
    std::size_t binding = 0;  // of its prefix, when it has one other than xmlns
  };
  struct Open {
    std::string qname;
    std::size_t prefixLength = 0;
    std::size_t bindings = 0;  // namespace bindings in force before this element
    bool heard = false;        // the handler hears of it (its start, or will)
    std::size_t binding = 0;   // of its namespace, once its start is delivered (else unknown)
  };
  struct Binding {
    std::string prefix;  // empty: the default namespace
    std::string uri;
  };

  std::size_t WholeUntil() const;
  Step ScanConstructs(std::size_t& pos, std::size_t until);
  Step ScanText(std::size_t& pos);
  Step ScanMarkup(std::size_t& pos);
  Step ScanStartTag(std::size_t& pos);
  Step ScanEndTag(std::size_t& pos);
  Step ScanDeclaration(std::size_t& pos);
  Step ScanUntil(std::size_t& pos, std::size_t from, std::string_view end, bool noDoubleHyphen, bool isText);
  bool ScanReference(std::size_t& pos, std::string* decoded);
  bool ScanName(std::size_t& pos, std::size_t& prefixLength);
  bool ScanAttributeValue(std::size_t& pos, Attribute& attribute);
  bool BindNamespaces();
  bool SameAttributeTwice() const;
  bool SameNameTwice() const;
  bool SameAttributeTwiceSorted(bool prefixed) const;
  std::string_view UriOf(std::size_t binding) const;
  void Decode(const Attribute& attribute, std::string& out);
  void DeliverStart(Open& element);
  static constexpr std::size_t kNoBinding = ~std::size_t{0};
  static constexpr std::size_t kXmlBinding = kNoBinding - 1;
  static constexpr std::size_t kUnknownBinding = kNoBinding - 2;
  std::size_t BindingOf(std::string_view prefix) const;
  std::string_view NamespaceOf(const Open& element) const;
  void DeliverEnd(const Open& element);
  static std::string_view LocalName(const Open& element);
  bool Delivering() const;
  bool TextWanted() const;
  void EmitText(std::string_view text);

  bool Keep(std::size_t pos);
  bool GiveUp();

  std::string buffer_;     // what a piece may have cut (from its last '<' on), kept for the next
  std::string_view text_;  // what is being scanned: a piece, or the buffer
  bool unsure_ = false;
  bool atStart_ = true;     // before the first byte of the part
  bool rootClosed_ = false;
  std::vector<Open> open_;
  std::size_t depth_ = 0;   // elements open; open_ may hold more, reused
  std::vector<Binding> bindings_;
  std::uint64_t bindingsVersion_ = 1;  // changes whenever a binding comes or goes
  // The bindings of the elements that end go out of force with them.
  void PopBindings(std::size_t count) {
    if (bindings_.size() == count) return;
    bindings_.resize(count);
    ++bindingsVersion_;
  }
  // The binding found last for a prefix, by a hash of the prefix.
  struct PrefixSlot {
    std::uint64_t version = 0;
    std::size_t binding = 0;
  };
  static constexpr std::size_t kPrefixSlots = 64;
  mutable std::array<PrefixSlot, kPrefixSlots> prefixSlots_{};
  std::vector<Attribute> attributes_;  // of the start tag last scanned: the first attributeCount_
  std::size_t attributeCount_ = 0;
  mutable std::vector<std::uint32_t> order_;  // attributes in sorted order, for the test for twins
  std::span<const Attribute> Attributes() const { return {attributes_.data(), attributeCount_}; }
  bool declares_ = false;               // which may declare namespaces
  std::uint64_t starts_ = 0;
  std::uint64_t ends_ = 0;

  XmlHandler* handler_ = nullptr;
  std::uint64_t textSinceEvent_ = 0;
  std::string reference_;  // a reference in text, decoded
  std::vector<XmlAttribute> delivered_;
  std::vector<std::string> decoded_;
};

}  // namespace ratemover::spreadsheet
