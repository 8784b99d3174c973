// TZVCarriersConsole: the console's owning list of carriers, in the order the
// server or the setup file gave them. Ids need not be unique; lookups by id take
// the first match.
//
// The list has no lock of its own: all access goes through these members, so a
// guard can be added here without touching the callers' view of the list.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "carriers/carrier_console.h"

namespace zv {

class TZVCarriersConsole {
  using TObjects = std::vector<std::unique_ptr<TZVCarrierConsole>>;

 public:
  // Walks the collection in list order: MoveNext first, then Current.
  class TZVEnumerator {
   public:
    explicit TZVEnumerator(const TZVCarriersConsole& AList) : FList(&AList) {}
    bool MoveNext();
    const TZVCarrierConsole* Current() const { return FList->GetItem(FIndex); }

   private:
    int32_t FIndex = -1;
    const TZVCarriersConsole* FList;  // not owned
  };

  // Range-for over the carriers in list order.
  class const_iterator {
   public:
    explicit const_iterator(TObjects::const_iterator it) : FIt(it) {}
    const TZVCarrierConsole& operator*() const { return **FIt; }
    const TZVCarrierConsole* operator->() const { return FIt->get(); }
    const_iterator& operator++() {
      ++FIt;
      return *this;
    }
    friend bool operator==(const const_iterator&, const const_iterator&) = default;

   private:
    TObjects::const_iterator FIt;
  };

  // A title and the carrier it names.
  using TStrings = std::vector<std::pair<std::string, const TZVCarrierConsole*>>;

  // Takes ownership and returns the carrier's index; -1 for no carrier.
  int32_t Add(std::unique_ptr<TZVCarrierConsole> AnObject);
  void Clear();
  int32_t Count() const { return static_cast<int32_t>(FObjects.size()); }
  bool IsEmpty() const { return FObjects.empty(); }

  // Null when `index` is not in 0 .. Count - 1.
  const TZVCarrierConsole* GetItem(int32_t index) const;
  const TZVCarrierConsole* FindObject(int32_t objId) const;
  bool ObjectExists(int32_t objId) const { return FindObject(objId) != nullptr; }
  // Carrier-type codes are compared as signed bytes.
  const TZVCarrierConsole* GetCarrier(int32_t carrierType) const;
  // The id of GetCarrier, or -1.
  int32_t GetCarrierId(int32_t carrierType) const;
  // False also when no carrier has the id.
  bool CheckCarrierType(int32_t carrierId, int32_t carrierType) const;

  TZVEnumerator GetEnumerator() const { return TZVEnumerator(*this); }
  const_iterator begin() const { return const_iterator(FObjects.begin()); }
  const_iterator end() const { return const_iterator(FObjects.end()); }

  // Replaces the contents with the carriers of a carrier-list reply (records
  // separated by 0x1E). The first bad record ends it with its error; the
  // carriers before it stay.
  void FromTcpStr(std::string_view tcpObjects, char aDelimit, int32_t ippV);

  // One title per carrier, in list order, replacing the contents of `strList`.
  void GetStrings(TStrings& strList, TZVTitleType titleType) const;
  // All titles joined with ", ".
  std::string DisplayNames(TZVTitleType displayType) const;

  // Through the carrier setup file; failures go to its report and to
  // TXmlCarrier's warning sink, not to the caller.
  void LoadFromFile();
  void SaveToFile() const;

 private:
  TObjects FObjects;
};

}  // namespace zv
