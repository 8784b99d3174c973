#include "protocol/global_types.h"

#include <gtest/gtest.h>

namespace zv {
namespace {

TEST(AddressTypeTest, TextsAndNumbersOutsideTheEnumeration) {
  EXPECT_EQ(AddressTypeText(TZVAddressType::atUnknown), "unknown");
  EXPECT_EQ(AddressTypeText(TZVAddressType::atSMS), "mobile number");
  EXPECT_EQ(AddressTypeText(TZVAddressType::atMdtId), "Mdt id");
  EXPECT_EQ(AddressTypeText(static_cast<TZVAddressType>(6)), "unknown");
  EXPECT_EQ(AddressTypeText(static_cast<TZVAddressType>(255)), "unknown");

  EXPECT_EQ(AddressTypeFromInt(3), TZVAddressType::atEmail);
  EXPECT_EQ(AddressTypeFromInt(5), TZVAddressType::atMdtId);
  EXPECT_EQ(AddressTypeFromInt(6), TZVAddressType::atUnknown);
  EXPECT_EQ(AddressTypeFromInt(-1), TZVAddressType::atUnknown);
  EXPECT_EQ(AddressTypeFromInt(257), TZVAddressType::atUnknown);
}

TEST(EditObjectTest, NamesAndUnknownBeyondTheTable) {
  EXPECT_EQ(EditObjectName(TZVEditObject::eoContact), "Contact");
  EXPECT_EQ(EditObjectName(TZVEditObject::eoCarrier), "Carrier");
  EXPECT_EQ(EditObjectName(TZVEditObject::eoTcpProtocol), "Tcp Protocol");
  EXPECT_EQ(EditObjectName(TZVEditObject::eoFileMsg), "File Messaging");
  EXPECT_EQ(EditObjectName(static_cast<TZVEditObject>(20)), "Unknown");
}

}  // namespace
}  // namespace zv
