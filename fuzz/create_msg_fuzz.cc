// CreateMsgFromTcp on any received text: it either throws one of the program's
// errors or gives a record whose texts are valid UTF-8; a record in a spoken
// protocol, written out again, reads back as the same record.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz_support.h"
#include "protocol/protocol.h"
#include "support/exceptions.h"
#include "support/text.h"

namespace {

bool IsUtf8(const std::string& text) { return zv::Utf16ToUtf8(zv::Utf8ToUtf16(text)) == text; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const zv::TZVProtocol protocol;
  std::unique_ptr<zv::TZVRemoteMsg> msg;
  try {
    msg = protocol.CreateMsgFromTcp(text, "10.0.0.1");
  } catch (const zv::Exception&) {
    return 0;
  }
  ZV_FUZZ_CHECK(msg != nullptr);
  ZV_FUZZ_CHECK(msg->AccountIP() == "10.0.0.1");
  for (const std::string* field : {&msg->Msg(), &msg->TcpMsg(), &msg->AccountId(),
                                   &msg->TcpCommandStr(), &msg->FieldDelimit()}) {
    ZV_FUZZ_CHECK(IsUtf8(*field));
  }
  if (!zv::TZVProtocol::UsedInVersion(msg->Protocol())) return 0;
  const std::string again = protocol.CreateTcpMsg(*msg);
  std::unique_ptr<zv::TZVRemoteMsg> reread;
  try {
    reread = protocol.CreateMsgFromTcp(again, "10.0.0.1");
  } catch (const zv::Exception& e) {
    zv::fuzz::Fail(e.what());
  }
  if (reread->AccountId() != msg->AccountId() || reread->Msg() != msg->Msg()) {
    std::fprintf(stderr, "read:    %s\nwritten: %s\n", zv::DebugText(text).c_str(),
                 zv::DebugText(again).c_str());
  }
  ZV_FUZZ_CHECK(reread->Protocol() == msg->Protocol());
  ZV_FUZZ_CHECK(reread->TcpCommand() == msg->TcpCommand());
  ZV_FUZZ_CHECK(reread->MsgResult() == msg->MsgResult());
  ZV_FUZZ_CHECK(reread->TransactionId() == msg->TransactionId());
  ZV_FUZZ_CHECK(reread->AccountId() == msg->AccountId());
  ZV_FUZZ_CHECK(reread->Msg() == msg->Msg());
  return 0;
}
