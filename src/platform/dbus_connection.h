// DBusConnection: one connection to a message bus, for the client of a service
// on the bus (method calls with a time-out, properties, signal subscriptions)
// and for a service (a well-known name, exported objects, signals).
//
// The connection does no work of its own: nothing runs on any other thread.
// Its owner watches Fd() in its poll and calls Process() when it is readable
// and after each call out, which runs the handlers of arrived signals, of
// incoming method calls and of the replies to calls made without waiting.
// Handlers run only inside Process(); they may call out on the connection,
// and may drop subscriptions, exports and calls (their own included), but
// must not destroy the connection. A call made without waiting times out only
// inside a Process() that runs after its deadline: the owner runs Process()
// at least every so often, not only when Fd() is readable.
//
// Values cross in the shapes this system uses: b, i, d, s, o and as; a property
// set of GetAll arrives as a name-value map of the same shapes.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace zv::platform {

struct DBusObjectPath {
  std::string Path;
  bool operator==(const DBusObjectPath&) const = default;
};

using DBusValue =
    std::variant<bool, int32_t, double, std::string, DBusObjectPath, std::vector<std::string>>;
using DBusArgs = std::vector<DBusValue>;

// The D-Bus type code of a value: "b", "i", "d", "s", "o" or "as".
std::string DBusSignatureOf(const DBusValue& value);

// A failure on the bus: an error reply (its name and message), no reply within
// the time-out (the bus names it Timeout or NoReply), no bus to reach, or a
// reply of another shape than expected. what() is the bus's own text.
class DBusError : public std::runtime_error {
 public:
  DBusError(std::string name, const std::string& message)
      : std::runtime_error(message), FName(std::move(name)) {}
  const std::string& Name() const { return FName; }

 private:
  std::string FName;
};

inline constexpr std::chrono::milliseconds kDBusDefaultTimeout{25000};
// The name of the error that ends a call made without waiting when no reply
// came within its time-out. Any other failure keeps the bus's own name (a
// callee that left the bus without answering is NoReply).
inline constexpr const char* kDBusErrorTimedOut = "org.freedesktop.DBus.Error.Timeout";

// The most a closing connection waits to write out what it has queued.
inline constexpr std::chrono::milliseconds kDBusCloseBound{250};

using DBusProperties = std::map<std::string, DBusValue>;

// How a call made without waiting ended: the reply's values, or the failure
// (an error reply, the bus's refusal, the time-out, the connection's loss, a
// reply of another shape than expected).
template <typename T>
struct DBusOutcome {
  T Values{};
  std::optional<DBusError> Error;
};
template <typename T>
using DBusReplyHandler = std::function<void(DBusOutcome<T> outcome)>;

enum class DBusBusKind { kSession, kSystem };

// The bus of the local server: `localBus` is the value of ZVCC_LOCAL_BUS
// ("session" or "system"; empty when unset), `sessionAddress` whether
// DBUS_SESSION_BUS_ADDRESS is set. Throws DBusError for any other value.
DBusBusKind ChooseLocalBus(const std::string& localBus, bool sessionAddressSet);
// The same, read from the environment.
DBusBusKind LocalBusFromEnvironment();

// How long the local link waits for each reply: ZVCC_LOCAL_CALL_TIMEOUT_MS
// when it holds a whole number from 100 to 25000, else kDBusDefaultTimeout.
std::chrono::milliseconds LocalCallTimeoutFromEnvironment();

// Dropping a handle ends what it stands for (a subscription, an export).
class DBusHandle {
 public:
  virtual ~DBusHandle() = default;
};

using DBusSignalHandler = std::function<void(const DBusArgs& args)>;

// A method of an exported interface. The handler gets the arguments and
// returns the reply's values; it answers an error reply by throwing
// DBusError, and answers nothing at all (the caller waits for its time-out)
// by returning std::nullopt.
struct DBusMethod {
  std::string Name;
  std::vector<std::pair<std::string, std::string>> In;   // name, type code
  std::vector<std::pair<std::string, std::string>> Out;  // name, type code
  std::function<std::optional<DBusArgs>(const DBusArgs& args)> Handler;
};

// A read-only property, read through its getter whenever it is asked for.
struct DBusProperty {
  std::string Name;
  std::string Type;
  std::function<DBusValue()> Getter;
};

struct DBusSignal {
  std::string Name;
  std::vector<std::pair<std::string, std::string>> Args;  // name, type code
};

struct DBusInterface {
  std::string Name;
  std::vector<DBusMethod> Methods;
  std::vector<DBusProperty> Properties;
  std::vector<DBusSignal> Signals;
};

class DBusConnection {
 public:
  // Connects to the bus and says hello. Throws DBusError with the reason when
  // the bus cannot be reached.
  static std::unique_ptr<DBusConnection> Open(DBusBusKind kind);
  // Connects to the bus at `address` ("unix:path=..."), as a private bus of a
  // test or of the demo is reached.
  static std::unique_ptr<DBusConnection> OpenAddress(const std::string& address);

  // Writes out what is still queued (the last signals of a service that
  // ends), waiting at most kDBusCloseBound for a bus that does not take it,
  // then closes. The handles made on the connection go before it.
  ~DBusConnection();
  DBusConnection(const DBusConnection&) = delete;
  DBusConnection& operator=(const DBusConnection&) = delete;

  // Readable while there is something for Process() to do.
  int Fd() const;
  // Runs every handler for what has arrived, without waiting. Returns whether
  // anything was processed. Throws DBusError when the connection is broken.
  bool Process();
  // False once the connection is closing or closed (the bus went away).
  bool IsOpen() const;
  // The connection's own unique name (":1.42").
  std::string UniqueName() const;

  // --- Calling a service ---

  // Calls `member` and waits at most `timeout` for the reply; the argument
  // types follow the values. Returns the reply's values; throws DBusError.
  DBusArgs Call(const std::string& destination, const std::string& path,
                const std::string& interface, const std::string& member, const DBusArgs& args,
                std::chrono::milliseconds timeout = kDBusDefaultTimeout);
  // org.freedesktop.DBus.Properties.GetAll of `interface`.
  DBusProperties GetAllProperties(const std::string& destination, const std::string& path,
                                  const std::string& interface,
                                  std::chrono::milliseconds timeout = kDBusDefaultTimeout);
  // org.freedesktop.DBus.Properties.Get.
  DBusValue GetProperty(const std::string& destination, const std::string& path,
                        const std::string& interface, const std::string& name,
                        std::chrono::milliseconds timeout = kDBusDefaultTimeout);
  // The same without waiting: the call goes out now, and `handler` runs inside
  // the Process() that sees its reply or its time-out, exactly once, unless
  // the returned handle is dropped first; the call is then forgotten (the
  // callee may still get it, its reply is ignored). Calls reach the callee in
  // the order they were made. Throws DBusError when the call cannot be made.
  std::unique_ptr<DBusHandle> CallAsync(const std::string& destination, const std::string& path,
                                        const std::string& interface, const std::string& member,
                                        const DBusArgs& args, std::chrono::milliseconds timeout,
                                        DBusReplyHandler<DBusArgs> handler);
  std::unique_ptr<DBusHandle> GetAllPropertiesAsync(const std::string& destination,
                                                    const std::string& path,
                                                    const std::string& interface,
                                                    std::chrono::milliseconds timeout,
                                                    DBusReplyHandler<DBusProperties> handler);
  std::unique_ptr<DBusHandle> GetPropertyAsync(const std::string& destination,
                                               const std::string& path,
                                               const std::string& interface,
                                               const std::string& name,
                                               std::chrono::milliseconds timeout,
                                               DBusReplyHandler<DBusValue> handler);
  // Waits at most `timeout` for something for Process() to do (a reply, a
  // time-out that falls due, the socket ready for what waits to be written).
  void Wait(std::chrono::milliseconds timeout);

  // Finds the unique name that owns `name`, without waiting: asks the bus who
  // owns it and, when no one does, asks the bus to start the service
  // registered for it (bus activation), then asks again. `handler` runs once,
  // inside Process(), with the owner or the failure: the bus's reason (no
  // service registered, a service that failed or left at once), or
  // kDBusErrorTimedOut when the whole lookup took longer than `timeout`.
  // Dropping the handle forgets the lookup. Throws DBusError when the first
  // call cannot be made.
  std::unique_ptr<DBusHandle> StartServiceAndGetOwnerAsync(const std::string& name,
                                                           std::chrono::milliseconds timeout,
                                                           DBusReplyHandler<std::string> handler);
  // How the bus took a signal match: null once it is in place, or the bus's
  // refusal (a match it refuses delivers nothing). Runs once, inside Process().
  using DBusInstalled = std::function<void(const DBusError* failure)>;
  // Calls `handler` inside Process() for each signal `member` of `interface`
  // sent by `sender` (a unique name) from `path`. The match is asked for
  // without waiting: the bus takes it before any call made later on this
  // connection reaches its callee, so the signals that such a call causes are
  // delivered. Without `installed`, a match the bus refuses breaks the
  // connection (Process() throws), so it never goes unnoticed.
  std::unique_ptr<DBusHandle> Subscribe(const std::string& sender, const std::string& path,
                                        const std::string& interface, const std::string& member,
                                        DBusSignalHandler handler, DBusInstalled installed = {});
  // Calls `handler(newOwner)` inside Process() when the owner of `name`
  // changes; an empty `newOwner` means the name has no owner any more. Asked
  // for as Subscribe() asks: a watch made before asking who owns the name sees
  // every change after the answer.
  std::unique_ptr<DBusHandle> WatchNameOwner(const std::string& name,
                                             std::function<void(const std::string&)> handler,
                                             DBusInstalled installed = {});

  // --- Serving ---

  // Serves `interface` at `path` (introspectable, with its properties) until
  // the handle is dropped.
  std::unique_ptr<DBusHandle> Export(const std::string& path, DBusInterface interface);
  // Takes the well-known `name`; throws DBusError when another owner holds it.
  void RequestName(const std::string& name);
  // Emits a signal; its argument types follow the values.
  void EmitSignal(const std::string& path, const std::string& interface, const std::string& member,
                  const DBusArgs& args);

 private:
  struct Impl;
  explicit DBusConnection(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> FImpl;
};

}  // namespace zv::platform
