#include "spreadsheet/package_relationships.h"

#include <cstddef>

#include "spreadsheet/open_failure.h"

namespace ratemover::spreadsheet {
namespace {

constexpr std::size_t kMaxDepth = 256;
constexpr std::size_t kMaxRelationships = 1u << 20;

bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

class RelationshipsHandler : public XmlHandler {
 public:
  explicit RelationshipsHandler(std::vector<PackageRelationship>& out) : out_(out) {}

  void StartElement(std::string_view, std::string_view name, const std::vector<XmlAttribute>& attributes) override {
    if (++depth_ > kMaxDepth) return Fail("nested too deep");
    if (depth_ != 2 || name != "Relationship") return;
    if (out_.size() >= kMaxRelationships) return Fail("too many relationships");
    if (const auto* mode = FindAttribute(attributes, "TargetMode"); mode != nullptr && mode->value == "External") return;
    PackageRelationship r;
    if (const auto* a = FindAttribute(attributes, "Id")) r.id = a->value;
    if (const auto* a = FindAttribute(attributes, "Type")) r.type = a->value;
    if (const auto* a = FindAttribute(attributes, "Target")) r.target = a->value;
    out_.push_back(std::move(r));
  }
  void EndElement(std::string_view, std::string_view) override { --depth_; }
  void Text(std::string_view) override {}

 private:
  std::vector<PackageRelationship>& out_;
  std::size_t depth_ = 0;
};

}  // namespace

std::string FolderOf(const std::string& partName) {
  const std::size_t slash = partName.rfind('/');
  return slash == std::string::npos ? std::string() : partName.substr(0, slash + 1);
}

std::string RelationshipsPartOf(const std::string& partName) {
  const std::string folder = FolderOf(partName);
  return folder + "_rels/" + partName.substr(folder.size()) + ".rels";
}

bool IsSheetWithoutCells(std::string_view relationshipType) {
  for (const std::string_view type : {"/chartsheet", "/dialogsheet", "/xlMacrosheet", "/xlIntlMacrosheet"}) {
    if (EndsWith(relationshipType, type)) return true;
  }
  return false;
}

PackageRelationships::PackageRelationships(const ZipPackage& package, const std::string& sourcePart)
    : folder_(FolderOf(sourcePart)) {
  const std::string part = RelationshipsPartOf(sourcePart);
  RelationshipsHandler handler(relationships_);
  // damage in the part is thrown by the stream itself
  missing_ = package.Stream(part, handler) == XmlPartResult::Missing;
}

const PackageRelationship* PackageRelationships::ByType(std::string_view typeSuffix) const {
  for (const auto& r : relationships_) {
    if (EndsWith(r.type, typeSuffix)) return &r;
  }
  return nullptr;
}

const PackageRelationship* PackageRelationships::ById(std::string_view id) const {
  for (const auto& r : relationships_) {
    if (r.id == id) return &r;
  }
  return nullptr;
}

std::string PackageRelationships::PartOf(const PackageRelationship& relationship) const {
  return ResolvePartName(folder_, relationship.target);
}

}  // namespace ratemover::spreadsheet
