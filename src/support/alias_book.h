// TAliasBook: names for people and groups, so that operators and scripts page
// "@oncall" rather than a list of numbers they must keep in their heads.
//
// The book is read from the settings file's [Aliases] section, one key per
// alias, its members separated by blanks: "oncall=555 556 @leads". A member is
// an address or another alias written with a leading "@". Alias names match
// without regard to ASCII letter case, as the file's keys do.
//
// An alias is always written with its "@", and an address never starts with
// one, so no address can be taken for an alias or the reverse: a page must not
// reach the wrong person. For the same reason a name that cannot be resolved
// whole (unknown, or part of a cycle) resolves to nothing at all.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zv {

class TIniStore;

class TAliasBook {
 public:
  static constexpr std::string_view kSection = "Aliases";
  static constexpr char kMark = '@';

  // One alias as stored: its name as written in the file and its members.
  struct TEntry {
    std::string Name;
    std::vector<std::string> Members;
  };

  // The outcome of resolving one name: the addresses in the order they were
  // first reached (each once, however many paths lead to it), or the one line
  // that says why nothing is to be sent.
  struct TResolved {
    std::vector<std::string> Addresses;
    std::string Error;
    bool Ok() const { return Error.empty(); }
  };

  TAliasBook() = default;
  // The [Aliases] section of `store`; a store without one gives an empty book.
  // A line that is not "name=members" is ignored, as the settings file ignores
  // such lines everywhere.
  static TAliasBook FromStore(const TIniStore& store);

  // True for a destination written as an alias ("@name").
  static bool IsAlias(std::string_view destination);

  // Resolves "@name" (with its mark). A name not in the book, a member alias not
  // in the book, a cycle, an alias without members: an error naming it.
  TResolved Resolve(std::string_view alias) const;

  const std::vector<TEntry>& Entries() const { return FEntries; }

 private:
  const TEntry* Find(std::string_view name) const;
  // Depth-first walk; `path` holds the aliases being expanded, for the cycle
  // check and the error's wording.
  bool Expand(const TEntry& entry, std::vector<std::string>& path, TResolved& out) const;

  std::vector<TEntry> FEntries;
};

}  // namespace zv
