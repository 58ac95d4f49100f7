// The rows of the licence notice, as build_notice copies them into the pane.
#pragma once

#include "notice/notice_pane.h"

extern const char* const kNoticeText[kNoticeRowCount];
