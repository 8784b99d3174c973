#include "console/message_line.h"

#include "support/helpers.h"
#include "support/text.h"

namespace zv {
namespace {

constexpr std::string_view kFieldSeparators = ",;";

}  // namespace

TMessageLine ParseMessageLine(std::string_view line) {
  TStringList items = SplitToArray(std::string(line), kFieldSeparators);
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i != 1) items[i] = Trim(items[i]);
  }
  TMessageLine m;
  if (items.size() < 2) {
    m.Address = items.empty() ? std::string() : items[0];
    m.Error = "not a message line (address,text[,carrier,...])";
    return m;
  }
  m.Address = items[0];
  m.Text = items[1];
  if (items.size() > kMaxMessageFields) {
    m.Error = "a message line has at most six fields";
    return m;
  }
  if (items.size() == 2 && !m.Text.empty() && m.Text.front() == '"') m.Text = UnquoteText(m.Text);
  auto item = [&](std::size_t index) { return index < items.size() ? items[index] : std::string(); };
  m.Carrier = item(2);
  m.Priority = item(3);
  m.Subject = item(4);
  m.Age = item(5);
  return m;
}

}  // namespace zv
