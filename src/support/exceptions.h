// The program's exception family, and the few general errors that stand in for
// the runtime's own (conversion, file open and create). Every class carries only
// a message; ClassName() names it in the program's one-line error report.
#pragma once

#include <stdexcept>
#include <string>

namespace zv {

class Exception : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  virtual const char* ClassName() const { return "Exception"; }
};

#define ZV_DECLARE_EXCEPTION(Name, Base)                     \
  class Name : public Base {                                 \
   public:                                                   \
    using Base::Base;                                        \
    const char* ClassName() const override { return #Name; } \
  }

// General errors.
ZV_DECLARE_EXCEPTION(EConversionError, Exception);  // text is not a number
ZV_DECLARE_EXCEPTION(EFileOpenError, Exception);    // "Cannot open file ..."
ZV_DECLARE_EXCEPTION(EFileCreateError, Exception);  // "Cannot create file ..."

// The program's own errors.
ZV_DECLARE_EXCEPTION(EZVException, Exception);
ZV_DECLARE_EXCEPTION(EZVIncompleteObject, EZVException);
ZV_DECLARE_EXCEPTION(EZVNoObject, EZVException);
ZV_DECLARE_EXCEPTION(EZVFileError, EZVException);
ZV_DECLARE_EXCEPTION(EZVNoFile, EZVFileError);
ZV_DECLARE_EXCEPTION(EZVFileFormat, EZVFileError);
ZV_DECLARE_EXCEPTION(EZVTcpConnection, EZVException);
// A text too long for one zVP frame; it is refused before anything is written.
ZV_DECLARE_EXCEPTION(EZVFrameTooLong, EZVException);

#undef ZV_DECLARE_EXCEPTION

// "Cannot open file \"<path>\". <reason>" / "Cannot create file ..." with the
// system's text for errno `err`.
EFileOpenError FileOpenError(const std::string& path, int err);
EFileCreateError FileCreateError(const std::string& path, int err);

}  // namespace zv
