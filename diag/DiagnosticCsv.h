// Text of the diagnostic CSV: the header line and one row per record. Lines end with CR LF, the
// bytes the files hold on disk. Numbers are formatted without the C locale's help so a host that
// switched LC_NUMERIC to a decimal comma cannot break the columns.
#pragma once

#include "diag/DiagnosticRecord.h"

#include <string>

namespace brindlecot {

/// The header line, CR LF included.
const std::string& diagnosticCsvHeader();

/// One row in column order, CR LF included: floats fixed with 4 decimals, integers and booleans as
/// plain decimal integers, the event as its name.
std::string diagnosticCsvRow(const DiagnosticRecord& record);

} // namespace brindlecot
