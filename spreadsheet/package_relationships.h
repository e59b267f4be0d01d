#pragma once
// The relationships of an Office Open XML package part (its "_rels/<name>.rels"
// part), which name the parts it leads to.
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/xml_stream.h"

namespace ratemover::spreadsheet {

struct PackageRelationship {
  std::string id;
  std::string type;    // the full type URI
  std::string target;  // as written: relative to the source's folder, or absolute
};

class PackageRelationships {
 public:
  // Reads the relationships part of sourcePart ("" for the package itself).
  // Missing() tells whether there was none; a malformed one throws
  // WorkbookError(Damaged). External targets are left out.
  PackageRelationships(const ZipPackage& package, const std::string& sourcePart);

  bool Missing() const { return missing_; }
  // The first relationship whose type ends in typeSuffix ("/worksheet"), or nullptr.
  const PackageRelationship* ByType(std::string_view typeSuffix) const;
  const PackageRelationship* ById(std::string_view id) const;
  // The part that a relationship leads to, resolved against the source's
  // folder; empty when the target climbs above the package root.
  std::string PartOf(const PackageRelationship& relationship) const;

 private:
  std::string folder_;
  bool missing_ = false;
  std::vector<PackageRelationship> relationships_;
};

// "xl/workbook.bin" -> "xl/_rels/workbook.bin.rels"; "" -> "_rels/.rels".
std::string RelationshipsPartOf(const std::string& partName);

// "xl/workbook.bin" -> "xl/".
std::string FolderOf(const std::string& partName);

// Whether a workbook's relationship of this type leads to a chart, dialog or
// macro sheet: a sheet, but not a worksheet, so none of its cells can be read.
bool IsSheetWithoutCells(std::string_view relationshipType);

}  // namespace ratemover::spreadsheet
