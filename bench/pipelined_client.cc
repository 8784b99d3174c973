// The least a client of the zVP session needs to send pages, as a yardstick
// for the console's throughput: it opens the session as the console does
// (connect notice, login, carrier load, ready), then writes N MSG_SEND frames
// without waiting and reads until the N results are in. Prints the messages
// per second from the first MSG_SEND to the last result.
//
//     pipelined_client PORT N
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "protocol/frame_reader.h"
#include "protocol/frame_writer.h"
#include "protocol/protocol.h"
#include "protocol/protocol_session.h"
#include "protocol/remote_msg.h"
#include "support/login_data.h"

namespace {

constexpr const char* kAccount = "TerminalAgent";
constexpr const char* kAddress = "127.0.0.1";

struct TSession : zv::TZVProtocolSession {
  int32_t Last = 0;
  int32_t NextMsgId() override { return ++Last; }
  int32_t SessionProtocol() const override { return 18; }
};

void WriteAll(int fd, const std::string& bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) std::exit(2);
    done += static_cast<std::size_t>(n);
  }
}

void Send(int fd, const zv::TZVRemoteMsg& msg) { WriteAll(fd, zv::BuildFrame(msg.TcpMsg())); }

// Reads frames until `count` replies to `command` (with `result`, when it is
// not negative) have come; the socket's receive timeout bounds every wait.
void AwaitReplies(int fd, zv::TFrameReader& reader, const zv::TZVProtocol& protocol,
                  zv::TTcpCommand command, long count, int result = -1) {
  char buffer[65536];
  while (count > 0) {
    while (auto frame = reader.Next()) {
      const auto reply = protocol.CreateMsgFromTcp(*frame, kAddress);
      if (reply->TcpCommand() == command && (result < 0 || (reply->MsgResult() & 0xFF) == result)) {
        --count;
      }
    }
    if (count == 0) break;
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) std::exit(3);
    reader.Append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const int port = std::atoi(argv[1]);
  const long count = std::atol(argv[2]);
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(static_cast<uint16_t>(port));
  server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const timeval timeout{30, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) return 2;

  TSession session;
  zv::TZVProtocol protocol;
  zv::TFrameReader reader;
  Send(fd, *protocol.CreateConnectMsg(session, kAccount, kAddress, kAddress, port, false));
  const std::string password = zv::EncodeLoginData(kAccount, 1);
  Send(fd, *protocol.CreateLoginMsg(session, kAccount, password, kAddress, 1));
  AwaitReplies(fd, reader, protocol, zv::TTcpCommand::tcpLogin, 1,
               static_cast<int>(zv::TZVLoginResult::slrLoginOK));
  Send(fd, *protocol.CreateLoadMsg(session, kAccount, kAddress, zv::TZVLoadResult::sorCarrierSum));
  AwaitReplies(fd, reader, protocol, zv::TTcpCommand::tcpLoad, 1);
  Send(fd, *protocol.CreateReadyMsg(session, kAccount, kAddress));

  const auto start = std::chrono::steady_clock::now();
  std::string frames;
  for (long i = 0; i < count; ++i) {
    const std::string request = std::to_string(session.NextMsgId()) + ",3," + std::to_string(i) +
                                ",4,120,Zorvane Message," + kAccount;
    const auto msg = protocol.CreateSendMsg(
        kAccount, kAddress, {"Disk full on db" + std::to_string(i) + '\x03' + request},
        session.SessionProtocol());
    frames += zv::BuildFrame(msg->TcpMsg());
    if (frames.size() > 60000 || i + 1 == count) {
      WriteAll(fd, frames);
      frames.clear();
    }
  }
  AwaitReplies(fd, reader, protocol, zv::TTcpCommand::tcpSendMsg, count);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  std::printf("%.0f\n", static_cast<double>(count) / elapsed.count());
  ::close(fd);
  return 0;
}
