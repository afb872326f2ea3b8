#pragma once

#include "xlsxexport.h"

// The FRDO upload table: every document with its ProfFrdo row, in the 35 columns the federal
// registry of education documents expects.
namespace FrdoExport {
XlsxExportSpec layout();
} // namespace FrdoExport
