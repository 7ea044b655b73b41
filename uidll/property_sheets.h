// The direct form of the document properties: fills the header's pdmOut
// from the printer's devmode or the defaults, merged with pdmIn.
#pragma once

#include "platform.h"

// 2328 for a size query (cbOut set to it), else 1; -1 when the buffer the
// caller states cannot hold even the public devmode.
LONG FillDocumentProperties(DOCUMENTPROPERTYHEADER* header);
