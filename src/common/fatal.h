// How a fatal failure ends the run: one modal message, then the process ends.
#pragma once

class FatalReporter {
 public:
  virtual ~FatalReporter() = default;
  // Shows `text` under `caption` and ends the process. The installer ends
  // with status 0 on every failure; other front ends may choose otherwise.
  // Must not return; a test double may throw instead.
  virtual void fail(const char* text, const char* caption) = 0;
};
