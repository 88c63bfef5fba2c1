// Any receiver SoapySDR drives ("driver=rtlsdr", "driver=airspy,serial=..."):
// made from its argument string, tuned and set from the request, streamed as
// CF32. Overflows are counted as gaps, sized from the device's time stamps
// when it gives them. SoapySDR reports failures by throwing; nothing thrown
// leaves this module.
#pragma once

#include <memory>
#include <string>

#include "radio/live/live_source.h"

#include "radio/base/failure.h"

namespace kdsp {

// Makes and starts the device of `request.address`. 0 with `*source` set, or
// -1 with `*error` naming the device, the cause and the fix.
int open_soapy_source(const LiveSourceRequest& request, LiveStop& stop, std::unique_ptr<LiveSource>* source,
                      Failure* failure);

}  // namespace kdsp
