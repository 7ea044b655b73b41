// The sample page: printer-ready bytes that the driver data file carries
// on its PrintSamplePage line, sent to the printer as one raw job.
#pragma once

#include <cstdio>

#include "platform.h"

// Prints the sample page of the open data file (text mode) as a raw job on
// the printer, if the file has one. Always closes the file; always 1.
int SendSamplePage(HANDLE printer, FILE* dataFile);
