// The output's time stamp and metadata from a TStreamInfo record.
#pragma once

#include <cstdint>

#include "Options/options_records.h"

namespace quillon {

class TCustomFFmpeg;

// Seconds since 1970-01-01 00:00 UTC of a local date-time given in days since
// 1899-12-30, for a time zone whose standard time is `bias_minutes` behind UTC
// (UTC = local time + bias); nearest second, halves to even.
int64_t DateTimeToUnixSeconds(double date_time, int bias_minutes);

// The system time zone's standard-time bias in minutes (UTC = local + bias);
// daylight saving time is not taken into account.
int StandardTimeBiasMinutes();

// The current local date-time in days since 1899-12-30.
double CurrentLocalDateTime();

// TimeStamp 0 stamps the output with the current time, a positive value with
// that date-time, a negative one not at all; then the metadata entries "year",
// "track", "title", "author", "copyright", "comment", "album", "genre", each
// when set.
void ApplyStreamInfo(TCustomFFmpeg& engine, const TStreamInfo& info);

} // namespace quillon
