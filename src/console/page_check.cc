#include "console/page_check.h"

#include "support/text.h"

namespace zv {
namespace {

// The characters a reading of the page or of its frame takes as a boundary,
// with what each one marks.
struct TSeparator {
  char Char;
  const char* Marks;
};
constexpr TSeparator kTextSeparators[] = {
    {'\x03', "which starts the message's fields"},
    {'\x1E', "which separates the items of a send request"},
    {'\x02', "which ends the header of a zVP message"},
    {'\x1D', "which separates the account in a zVP header"},
    {'\x1F', "which separates the dates in a zVP header"},
};

constexpr unsigned char kDelete = 0x7F;

bool IsControl(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u < 0x20 || u == kDelete;
}

std::string ByteName(char c) {
  return StrFormat("0x%02X", static_cast<unsigned>(static_cast<unsigned char>(c)));
}

}  // namespace

std::string TextFault(std::string_view text) {
  // The first of them in the text, so that the refusal names what comes first.
  for (const char c : text) {
    for (const TSeparator& s : kTextSeparators) {
      if (c == s.Char) return "holds " + ByteName(c) + ", " + s.Marks;
    }
  }
  return {};
}

std::string FieldFault(std::string_view value) {
  for (const char c : value) {
    if (c == ',') return "holds \",\", which the server takes as a field separator";
    if (IsControl(c)) return "holds the control character " + ByteName(c);
  }
  return {};
}

// The text is checked first: a separator in it would move every field after
// it.
std::string PageFault(const std::string& address, const std::string& text,
                      const std::string& carrier, const std::string& priority,
                      const std::string& subject, const std::string& age) {
  if (std::string fault = TextFault(text); !fault.empty()) return "its text " + fault;
  const std::pair<const char*, const std::string*> fields[] = {{"address", &address},
                                                               {"carrier", &carrier},
                                                               {"priority", &priority},
                                                               {"subject", &subject},
                                                               {"age limit", &age}};
  for (const auto& [name, value] : fields) {
    if (std::string fault = FieldFault(*value); !fault.empty()) {
      return std::string("its ") + name + " " + fault;
    }
  }
  // A server takes a page without an address and answers it for nobody.
  if (Trim(address).empty()) return "its address is empty";
  return {};
}


}  // namespace zv
