#include "ftdikind.h"

namespace portio {

// Every call is a USB transfer, bounded by libftdi's timeouts: a worker
// drives it. The pins can be read back.
const OutputKind ftdiRelayKind {"ftdi", "ftdi[:SERIAL|:@PORT]",
                                "an FTDI bit-bang relay board (FT245R, FT232R): the only one, or by serial or USB port",
                                parseFtdiSpec, formatFtdiSpec, listFtdiOutputs, identifyFtdiOutput, openFtdiOutput,
                                /*readBack=*/true, /*mayBlock=*/true};

} // namespace portio
