#include "spreadsheet/biff_formula.h"

#include <string>

#include "spreadsheet/biff_records.h"
#include "spreadsheet/biff_values.h"
#include "spreadsheet/little_endian.h"

namespace ratemover::spreadsheet::biff {

namespace {

class Expression {
 public:
  Expression(const std::uint8_t* p, std::size_t available, bool biff8) : p_(p), available_(available), biff8_(biff8) {}

  // The bytes that the expression of cce token bytes takes with its extra
  // data; on failure an empty result and the reason in fault. An extended
  // token, whose size is not known here, ends the walk: the size is then the
  // tokens' declared length alone, and complete is false.
  std::optional<std::size_t> Size(std::size_t cce, std::string& fault, bool& complete) {
    complete = true;
    if (cce > available_) {
      fault = "declares " + std::to_string(cce) + " bytes of tokens, more than the record holds";
      return std::nullopt;
    }
    bool anyExtra = false;  // whether a token keeps extra data after the tokens
    for (std::size_t at = 0; at < cce;) {
      const std::uint8_t token = p_[at];
      const std::size_t size = TokenSize(at, cce);
      if (size == 0 && token == kExtendedToken && biff8_) {
        // Excel 97 writes extended tokens whose sizes are not known here;
        // the cached result is what is read, so the walk ends and the
        // expression is taken as its record says
        complete = false;
        return cce;
      }
      if (size == 0) return Fault(fault, "holds an unknown token ", token, at, " of its expression");
      if (size > cce - at) return Fault(fault, "holds a token ", token, at, " that runs past its expression");
      anyExtra = anyExtra || KeepsExtraData(token);
      at += size;
    }
    return anyExtra ? SkipExtraData(cce, fault) : cce;
  }

 private:
  static bool KeepsExtraData(std::uint8_t token) {
    const std::uint8_t base = token & 0x1F;
    return token >= 0x20 && (base == kArrayToken || base == kMemAreaToken);
  }

  // Out of line: most expressions are sound.
  [[gnu::noinline, gnu::cold]] static std::nullopt_t Fault(std::string& fault, const char* what, std::uint8_t token,
                                                           std::size_t at, const char* where) {
    fault = what + Hex16(token) + " at byte " + std::to_string(at) + where;
    return std::nullopt;
  }

  // The extra data after the tokens, of the tokens that keep some, in token
  // order; the walk over the tokens has found them all sound.
  std::optional<std::size_t> SkipExtraData(std::size_t cce, std::string& fault) const {
    std::size_t at = cce;
    for (std::size_t token = 0; token < cce; token += TokenSize(token, cce)) {
      if (!KeepsExtraData(p_[token])) continue;
      const bool array = (p_[token] & 0x1F) == kArrayToken;
      if (!(array ? SkipArrayValues(at) : SkipRectangles(at))) {
        fault = "holds the data of its " + std::string(array ? "array constants" : "reference subexpressions") +
                " cut short or damaged";
        return std::nullopt;
      }
    }
    return at;
  }

  static constexpr std::uint8_t kArrayToken = 0x00;
  static constexpr std::uint8_t kMemAreaToken = 0x06;
  static constexpr std::uint8_t kExtendedToken = 0x18;

  // The size of the token at an offset, 0 for a token unknown in this
  // version; the fixed part must lie within the tokens before its own
  // lengths are read.
  std::size_t TokenSize(std::size_t at, std::size_t cce) const {
    const std::uint8_t token = p_[at];
    const std::size_t left = cce - at;
    if (token < 0x20) {
      switch (token) {
        case 0x01:  // shared or array formula
        case 0x02:  // table
          return 5;
        case 0x17:  // string constant
          if (left < (biff8_ ? 3 : 2)) return left + 1;
          if (!biff8_) return 2 + p_[at + 1];
          return 3 + static_cast<std::size_t>(p_[at + 1]) * ((p_[at + 2] & 0x01) != 0 ? 2 : 1);
        case 0x19:  // attribute; a choice carries its jump table
          if (left < 4) return left + 1;
          return (p_[at + 1] & 0x04) != 0 ? 4 + 2 * (static_cast<std::size_t>(U16(p_ + at + 2)) + 1) : 4;
        case 0x1C:  // error
        case 0x1D:  // boolean
          return 2;
        case 0x1E:  // integer
          return 3;
        case 0x1F:  // number
          return 9;
        default:  // operators, parentheses, a missing argument
          return token >= 0x03 && token <= 0x16 ? 1 : 0;
      }
    }
    if (token >= 0x80) return 0;
    switch (token & 0x1F) {
      case 0x00:  // array constant
        return 8;
      case 0x01:  // function of fixed arguments
        return 3;
      case 0x02:  // function of variable arguments
        return 4;
      case 0x03:  // name
        return biff8_ ? 5 : 15;
      case 0x04:  // cell reference, deleted, relative
      case 0x0A:
      case 0x0C:
        return biff8_ ? 5 : 4;
      case 0x05:  // area reference, deleted, relative
      case 0x0B:
      case 0x0D:
        return biff8_ ? 9 : 7;
      case 0x06:  // reference subexpressions
      case 0x07:
      case 0x08:
        return 7;
      case 0x09:
      case 0x0E:
      case 0x0F:
        return 3;
      case 0x19:  // external name
        return biff8_ ? 7 : 25;
      case 0x1A:  // 3-D cell reference, deleted
      case 0x1C:
        return biff8_ ? 7 : 18;
      case 0x1B:  // 3-D area reference, deleted
      case 0x1D:
        return biff8_ ? 11 : 21;
      default:
        return 0;
    }
  }

  bool Skip(std::size_t& at, std::size_t count) const {
    if (count > available_ - at) return false;
    at += count;
    return true;
  }

  // An array constant: its columns and rows (BIFF8 stores each less one,
  // BIFF5 as they are, 0 columns meaning 256), then the values row by row,
  // each a type byte and eight bytes or a string.
  bool SkipArrayValues(std::size_t& at) const {
    if (available_ - at < 3) return false;
    std::size_t columns = p_[at];
    std::size_t rows = U16(p_ + at + 1);
    if (biff8_) {
      ++columns;
      ++rows;
    } else if (columns == 0) {
      columns = 256;
    }
    const std::size_t values = columns * rows;
    at += 3;
    for (std::size_t i = 0; i < values; ++i) {
      if (available_ - at < 1) return false;
      const std::uint8_t type = p_[at++];
      switch (type) {
        case 0x00:  // empty
        case 0x01:  // number
        case 0x04:  // boolean
        case 0x10:  // error
          if (!Skip(at, 8)) return false;
          break;
        case 0x02:  // string: BIFF8 16-bit length and option byte, BIFF5 8-bit length
          if (biff8_) {
            if (available_ - at < 3) return false;
            const std::size_t length = U16(p_ + at);
            const std::size_t width = (p_[at + 2] & 0x01) != 0 ? 2 : 1;
            at += 3;
            if (!Skip(at, length * width)) return false;
          } else {
            if (available_ - at < 1) return false;
            const std::size_t length = p_[at++];
            if (!Skip(at, length)) return false;
          }
          break;
        default:
          return false;
      }
    }
    return true;
  }

  // A reference subexpression's rectangles: a count, then each rectangle's
  // rows and columns.
  bool SkipRectangles(std::size_t& at) const {
    if (available_ - at < 2) return false;
    const std::size_t count = U16(p_ + at);
    at += 2;
    return Skip(at, count * (biff8_ ? 8 : 6));
  }

  const std::uint8_t* p_;
  std::size_t available_;
  bool biff8_;
};

}  // namespace

std::optional<std::size_t> ExpressionSize(const std::uint8_t* p, std::size_t available, bool biff8, std::size_t cce,
                                          std::string& fault, bool& complete) {
  return Expression(p, available, biff8).Size(cce, fault, complete);
}

std::optional<CellValue> CachedResult(const std::uint8_t* result, NumberStyle style, bool emptyTextIsResult) {
  if (U16(result + 6) != 0xFFFF) return NumberValue(F64(result), style);
  switch (result[0]) {
    case 0:
      return std::nullopt;
    case 1:
      return CellValue::OfBoolean(result[2] != 0);
    case 3:
      return emptyTextIsResult ? CellValue::OfText(std::string()) : CellValue::OfError();
    default:  // 2: an error value; anything else is no result we know
      return CellValue::OfError();
  }
}

}  // namespace ratemover::spreadsheet::biff
