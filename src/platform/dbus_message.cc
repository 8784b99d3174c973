#include "platform/dbus_message.h"

#include <cerrno>
#include <cstring>

namespace zv::platform::dbus_detail {

[[noreturn]] void ThrowErrno(int negativeErrno, const std::string& what) {
  throw DBusError(kErrorFailed, what + ": " + std::strerror(-negativeErrno));
}

// The error of a failed call: the reply's own name and text, or the errno's.
DBusError ErrorOf(const sd_bus_error& error) {
  return DBusError(error.name, error.message != nullptr ? error.message : error.name);
}

[[noreturn]] void ThrowCallError(const sd_bus_error& error, int result) {
  if (sd_bus_error_is_set(&error)) throw ErrorOf(error);
  throw DBusError(kErrorFailed, std::strerror(-result));
}

void Check(int result, const char* what) {
  if (result < 0) ThrowErrno(result, what);
}

// A text goes on the bus as it stands or not at all: the bus carries neither
// NUL characters nor text that is not UTF-8, and dropping part of a message
// without a word is worse than refusing it.
void AppendText(sd_bus_message* m, char type, const std::string& text) {
  if (text.find('\0') != std::string::npos) {
    throw DBusError(kErrorInvalidArgs, "A text holds a NUL character, which the bus cannot carry");
  }
  const int r = sd_bus_message_append_basic(m, type, text.c_str());
  if (r == -EINVAL) {
    throw DBusError(kErrorInvalidArgs,
                    type == 'o' ? "\"" + text + "\" is not an object path"
                                : std::string("A text is not valid UTF-8, which the bus needs"));
  }
  Check(r, "Cannot build a bus message");
}

void AppendValue(sd_bus_message* m, const DBusValue& value) {
  if (const bool* b = std::get_if<bool>(&value)) {
    const int v = *b ? 1 : 0;
    Check(sd_bus_message_append_basic(m, 'b', &v), "Cannot build a bus message");
  } else if (const int32_t* i = std::get_if<int32_t>(&value)) {
    Check(sd_bus_message_append_basic(m, 'i', i), "Cannot build a bus message");
  } else if (const double* d = std::get_if<double>(&value)) {
    Check(sd_bus_message_append_basic(m, 'd', d), "Cannot build a bus message");
  } else if (const std::string* s = std::get_if<std::string>(&value)) {
    AppendText(m, 's', *s);
  } else if (const DBusObjectPath* o = std::get_if<DBusObjectPath>(&value)) {
    AppendText(m, 'o', o->Path);
  } else {
    const auto& list = std::get<std::vector<std::string>>(value);
    Check(sd_bus_message_open_container(m, 'a', "s"), "Cannot build a bus message");
    for (const std::string& item : list) AppendText(m, 's', item);
    Check(sd_bus_message_close_container(m), "Cannot build a bus message");
  }
}

void AppendArgs(sd_bus_message* m, const DBusArgs& args) {
  for (const DBusValue& value : args) AppendValue(m, value);
}

[[noreturn]] void ThrowShape(const std::string& what) {
  throw DBusError(kErrorInvalidArgs, "The bus message has an unexpected shape: " + what);
}

// Reads the next complete value; false at the end of the current container.
bool ReadValue(sd_bus_message* m, DBusValue& out) {
  char type = 0;
  const char* contents = nullptr;
  int r = sd_bus_message_peek_type(m, &type, &contents);
  Check(r, "Cannot read a bus message");
  if (r == 0) return false;
  switch (type) {
    case 'b': {
      int v = 0;
      Check(sd_bus_message_read_basic(m, 'b', &v), "Cannot read a bus message");
      out = v != 0;
      return true;
    }
    case 'i': {
      int32_t v = 0;
      Check(sd_bus_message_read_basic(m, 'i', &v), "Cannot read a bus message");
      out = v;
      return true;
    }
    case 'd': {
      double v = 0;
      Check(sd_bus_message_read_basic(m, 'd', &v), "Cannot read a bus message");
      out = v;
      return true;
    }
    case 's':
    case 'o': {
      const char* v = nullptr;
      Check(sd_bus_message_read_basic(m, type, &v), "Cannot read a bus message");
      if (type == 's') {
        out = std::string(v);
      } else {
        out = DBusObjectPath{v};
      }
      return true;
    }
    case 'a': {
      if (contents == nullptr || std::strcmp(contents, "s") != 0) {
        ThrowShape(std::string("an array of ") + (contents != nullptr ? contents : "?"));
      }
      std::vector<std::string> list;
      Check(sd_bus_message_enter_container(m, 'a', "s"), "Cannot read a bus message");
      const char* item = nullptr;
      while ((r = sd_bus_message_read_basic(m, 's', &item)) > 0) list.emplace_back(item);
      Check(r, "Cannot read a bus message");
      Check(sd_bus_message_exit_container(m), "Cannot read a bus message");
      out = std::move(list);
      return true;
    }
    case 'v': {
      Check(sd_bus_message_enter_container(m, 'v', contents), "Cannot read a bus message");
      if (!ReadValue(m, out)) ThrowShape("an empty variant");
      Check(sd_bus_message_exit_container(m), "Cannot read a bus message");
      return true;
    }
    default:
      ThrowShape(std::string("type ") + type);
  }
}

DBusArgs ReadArgs(sd_bus_message* m) {
  DBusArgs args;
  DBusValue value;
  while (ReadValue(m, value)) args.push_back(std::move(value));
  return args;
}

}  // namespace zv::platform::dbus_detail
