#pragma once

#include <QtGlobal>

// Times the plan of an import of `rows` table rows on the open registry (reading the template and
// the taken numbers, the documents, their numbering and checks, the records) and prints a line.
void benchPlan(int rows, qint64 templateId);
