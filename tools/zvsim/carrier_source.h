// The carriers the simulator reports: a built-in set, or the carriers of a
// carrier setup file; and the body of the carrier-list reply made from them.
#pragma once

#include <string>

#include "carriers/carriers_console.h"

namespace zv::sim {

// Five carriers, one of each known address type, with the names, type texts
// and info lines that exercise a console's list reader: a name with a comma,
// one with double quotes, info lines with the delimiter and quotes in them.
// Carrier 3 (the console's default carrier) delivers to pager ids.
TZVCarriersConsole BuiltInCarriers();

// The carriers of the setup file `path` (extension .ccr), read with the
// console's own reader; its report file is written to the Settings folder
// beside the simulator, as the reader always does. Throws EZVFileError with
// the reader's message when the file cannot be read whole.
TZVCarriersConsole LoadCarrierFile(const std::string& path);

// The body of a LOAD reply: one record per carrier, records separated by
// 0x1E, fields by `delimiter`, quoted where a field holds the delimiter or a
// double quote.
std::string CarrierListBody(const TZVCarriersConsole& carriers, char delimiter);

// Throws EZVException naming the first carrier that a console would not read
// back from CarrierListBody as it is (a text holding the record separator
// 0x1E cannot be sent).
void CheckCarrierListReadsBack(const TZVCarriersConsole& carriers, char delimiter);

}  // namespace zv::sim
