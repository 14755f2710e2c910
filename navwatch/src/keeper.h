// What becomes of a taken message: a repeat of an identifier in memory, a
// message the user deselected, or one to show, mended from its earlier
// copies.  Takes the message as read from the server, the store (for the
// identifier memory and the earlier copies) and the filter set of the
// settings; gives the record to commit and whether its identifier goes
// into memory.  Nothing is written here.
//
// Rules: serial number 00 is always shown and never remembered; types A,
// B, D and L are never deselected; an identifier is remembered only when
// the (mended) text has less than 4 % errors; a shown type D raises the
// alarm.
#ifndef NAVWATCH_KEEPER_H
#define NAVWATCH_KEEPER_H

#include <string>

#include "navtex_settings/message_filter.h"
#include "reply.h"
#include "store.h"

constexpr double kGoodErrorPct = 4.0;

struct keeper_result {
	stored_msg msg;
	bool remember = false;
};

// 0, or -1 when the store could not be read (reason in *err).
int keeper_decide(store *s, filter_obj *filters, const taken_msg &t, int64_t now, keeper_result *out,
		  std::string *err);

// True when the identifier's type letter (B2) is one no selection removes.
bool keeper_protected(const std::string &ident);

#endif
