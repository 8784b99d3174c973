#include "carriers/carriers_console.h"

#include "carriers/xml_carrier.h"
#include "support/helpers.h"

namespace zv {
namespace {

constexpr char kRecordSeparator = '\x1E';

}  // namespace

bool TZVCarriersConsole::TZVEnumerator::MoveNext() {
  if (FIndex >= FList->Count() - 1) return false;
  ++FIndex;
  return true;
}

int32_t TZVCarriersConsole::Add(std::unique_ptr<TZVCarrierConsole> AnObject) {
  if (!AnObject) return -1;
  FObjects.push_back(std::move(AnObject));
  return Count() - 1;
}

void TZVCarriersConsole::Clear() { FObjects.clear(); }

const TZVCarrierConsole* TZVCarriersConsole::GetItem(int32_t index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return FObjects[static_cast<std::size_t>(index)].get();
}

const TZVCarrierConsole* TZVCarriersConsole::FindObject(int32_t objId) const {
  for (const auto& carrier : FObjects) {
    if (carrier->ObjectId() == objId) return carrier.get();
  }
  return nullptr;
}

const TZVCarrierConsole* TZVCarriersConsole::GetCarrier(int32_t carrierType) const {
  const auto code = static_cast<int8_t>(carrierType);
  for (const auto& carrier : FObjects) {
    if (carrier->CarrierType() == code) return carrier.get();
  }
  return nullptr;
}

int32_t TZVCarriersConsole::GetCarrierId(int32_t carrierType) const {
  const TZVCarrierConsole* carrier = GetCarrier(carrierType);
  return carrier ? carrier->ObjectId() : -1;
}

bool TZVCarriersConsole::CheckCarrierType(int32_t carrierId, int32_t carrierType) const {
  const TZVCarrierConsole* carrier = FindObject(carrierId);
  return carrier && carrier->CarrierType() == static_cast<int8_t>(carrierType);
}

void TZVCarriersConsole::FromTcpStr(std::string_view tcpObjects, char aDelimit, int32_t ippV) {
  Clear();
  for (const std::string& item : SplitDelimited(tcpObjects, kRecordSeparator)) {
    Add(std::make_unique<TZVCarrierConsole>(item, aDelimit, ippV));
  }
}

void TZVCarriersConsole::GetStrings(TStrings& strList, TZVTitleType titleType) const {
  strList.clear();
  for (const auto& carrier : FObjects) {
    strList.emplace_back(carrier->GetDisplayName(titleType), carrier.get());
  }
}

std::string TZVCarriersConsole::DisplayNames(TZVTitleType displayType) const {
  std::string names;
  for (const auto& carrier : FObjects)
    AppendItem(names, carrier->GetDisplayName(displayType), ", ");
  return names;
}

void TZVCarriersConsole::LoadFromFile() {
  TXmlCarrier xml;
  xml.LoadCarriers(*this);
}

void TZVCarriersConsole::SaveToFile() const {
  TXmlCarrier xml;
  xml.SaveCarriers(*this);
}

}  // namespace zv
