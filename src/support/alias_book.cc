#include "support/alias_book.h"

#include <algorithm>

#include "support/ini_store.h"
#include "support/text.h"

namespace zv {
namespace {

std::string Quoted(std::string_view name) {
  return "\"" + std::string(1, TAliasBook::kMark) + std::string(name) + "\"";
}

// Blank-separated words; tabs count as blanks.
std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    std::size_t end = i;
    while (end < text.size() && text[end] != ' ' && text[end] != '\t') ++end;
    if (end > i) words.emplace_back(text.substr(i, end - i));
    i = end;
  }
  return words;
}

}  // namespace

TAliasBook TAliasBook::FromStore(const TIniStore& store) {
  TAliasBook book;
  for (const TIniSection& section : store.Sections()) {
    if (!SameTextAscii(section.Name, kSection)) continue;
    for (const std::string& line : section.Lines) {
      const std::size_t eq = line.find('=');
      if (eq == std::string::npos) continue;
      std::string name = Trim(std::string_view(line).substr(0, eq));
      if (!name.empty() && name.front() == kMark) name.erase(0, 1);
      if (name.empty() || book.Find(name) != nullptr) continue;  // the first entry wins
      book.FEntries.push_back({name, Words(std::string_view(line).substr(eq + 1))});
    }
    break;  // the first of several equal sections is the one read, as for every key
  }
  return book;
}

bool TAliasBook::IsAlias(std::string_view destination) {
  return !destination.empty() && destination.front() == kMark;
}

const TAliasBook::TEntry* TAliasBook::Find(std::string_view name) const {
  const auto it = std::find_if(FEntries.begin(), FEntries.end(),
                               [&](const TEntry& e) { return SameTextAscii(e.Name, name); });
  return it == FEntries.end() ? nullptr : &*it;
}

TAliasBook::TResolved TAliasBook::Resolve(std::string_view alias) const {
  TResolved out;
  const std::string_view name = IsAlias(alias) ? alias.substr(1) : alias;
  const TEntry* entry = name.empty() ? nullptr : Find(name);
  if (entry == nullptr) {
    out.Error = name.empty() ? "\"@\" names no alias" : "unknown alias " + Quoted(name);
    return out;
  }
  std::vector<std::string> path;
  if (!Expand(*entry, path, out)) out.Addresses.clear();
  return out;
}

bool TAliasBook::Expand(const TEntry& entry, std::vector<std::string>& path,
                        TResolved& out) const {
  const auto seen = std::find_if(path.begin(), path.end(),
                                 [&](const std::string& p) { return SameTextAscii(p, entry.Name); });
  if (seen != path.end()) {
    std::string chain;
    for (auto it = seen; it != path.end(); ++it) chain += Quoted(*it) + " -> ";
    out.Error = "alias " + Quoted(entry.Name) + " contains itself (" + chain + Quoted(entry.Name) + ")";
    return false;
  }
  if (entry.Members.empty()) {
    out.Error = "alias " + Quoted(entry.Name) + " has no members";
    return false;
  }
  path.push_back(entry.Name);
  for (const std::string& member : entry.Members) {
    if (!IsAlias(member)) {
      if (std::find(out.Addresses.begin(), out.Addresses.end(), member) == out.Addresses.end()) {
        out.Addresses.push_back(member);
      }
      continue;
    }
    const std::string_view name = std::string_view(member).substr(1);
    const TEntry* inner = name.empty() ? nullptr : Find(name);
    if (inner == nullptr) {
      out.Error = "unknown alias " + Quoted(name) + " (a member of " + Quoted(entry.Name) + ")";
      return false;
    }
    if (!Expand(*inner, path, out)) return false;
  }
  path.pop_back();
  return true;
}

}  // namespace zv
