// navwatch's reading of server replies: any bytes as a GETMSG or GETSTATUS
// reply.  A message never loses the text it was sent with, an identifier
// is only ever a readable one, the error rate stays a percentage.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>

#include "reply.h"
#include "fuzz_support.h"

using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	std::string body(reinterpret_cast<const char *>(data), size);
	for (const std::string &reply : {"GETMSG:\n" + body, body}) {
		taken_msg m;
		reply_kind k = reply_parse_getmsg(reply, &m);
		if (k == REPLY_MESSAGE) {
			check(reply.find(m.text) != std::string::npos);
			check(m.ident.empty() || ident_readable(m.ident));
			check(m.error_pct >= 0 && m.error_pct <= 100);
			check(m.freq >= 0);
		} else if (k == REPLY_EMPTY) {
			check(reply == "GETMSG:\n");
		}
		check(reply_complete(reply) == 0 || reply_complete(reply) == 1);
	}
	std::vector<channel_state> ch;
	int n = reply_parse_status("GETSTATUS:\n" + body, 0, &ch);
	check(n == static_cast<int>(ch.size()));
	return 0;
}
