/*
 * IEC 61162-1 (NMEA 0183) sentences of a NAVTEX receiver: NRX (a received
 * message, receiver to ECDIS/INS) and NRM (the receiver's masks, both
 * directions).  Pure functions; nothing here does I/O or keeps state.
 *
 * Frequencies: kHz 490, 518, 4209 <-> table index 1, 2, 3 (4209.5 kHz);
 * any other frequency has no index (empty field).  Masks are 32 bits, bit 0
 * = letter 'A' ... bit 25 = 'Z', bits 26-31 always zero; a set bit means
 * the station (B1) or type (B2) is selected, i.e. its messages are taken.
 *
 * Every sentence built here has talker "CR", a checksum and CR LF, and is at
 * most 82 characters from '$' to LF.  Input (nmea_parse_request) may be any
 * bytes from an untrusted peer: it never reads out of bounds, never throws,
 * and accepts NRM from any talker, the query "$--CRQ,NRM*hh", function 0 as
 * a query, and a missing status flag.  A checksum is required.
 *
 * Selections: the settings' coast-station and message-type letter tables
 * list the letters the filter removes (a listed letter registers a filter),
 * so a mask bit is set exactly when the letter is NOT listed.  navwatch
 * shows types A, B, D and L on every frequency whatever the selection:
 * those bits are always reported set and a command cannot clear them.
 */
#ifndef NAVWATCH_NMEA_H
#define NAVWATCH_NMEA_H

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

struct settings_obj;

// Longest sentence, '$' to LF inclusive.
constexpr size_t NMEA_MAX_SENTENCE = 82;
// Number of frequency table indexes with a mask (1..3).
constexpr int NMEA_FREQS = 3;
// Bits that may be set in a mask ('A' .. 'Z').
constexpr uint32_t NMEA_MASK_LETTERS = (1u << 26) - 1;

// 490 -> 1, 518 -> 2, 4209 -> 3, anything else -> 0.
int nmea_freq_index(int freq_khz);
// 1 -> 490, 2 -> 518, 3 -> 4209, anything else -> 0.
int nmea_freq_khz(int index);

// XOR of the bytes of a sentence between '$' and '*' (pass that part only).
uint8_t nmea_checksum(std::string_view body);
// "$" + body + "*hh\r\n".
std::string nmea_sentence(std::string_view body);

// Text field escaping: every reserved character (CR LF $ * , ! \ ^ ~) and
// every byte outside printable ASCII becomes '^' and two upper-case hex
// digits.  nmea_unescape reverses it; a '^' not followed by two hex digits
// is kept as it is.
std::string nmea_escape(std::string_view text);
std::string nmea_unescape(std::string_view field);

// One received message as NRX carries it.
struct nmea_nrx_msg {
    int freq_khz = 0;   // 490, 518 or 4209; other values give an empty index
    std::string ident;  // B1B2B3B4; anything not [A-Z][A-Z][0-9][0-9] is sent empty
    time_t time = -1;   // reception time, seconds since 1970 UTC; < 0 unknown
    std::string text;   // message body; each line end (LF, CR LF or CR) is sent as ^0D^0A
    bool correct = false; // status A (received in correct form) or V
};

// The sentences of one message, in order, each a whole line with CR LF.
// `seq` is the sequential message identifier (taken modulo 100).  Total and
// bad counts are the body's characters and its '*' characters, line ends
// counted as CR LF.  Fields 4-12 are in the first sentence only.  A body too
// long for 999 sentences is cut there, and the counts tell what was sent.
std::vector<std::string> nmea_nrx_sentences(const nmea_nrx_msg &msg, int seq);

// A sentence split into its parts, as received.
struct nmea_fields {
    std::string talker;              // two characters after '$'
    std::string formatter;           // three characters, e.g. "NRX"
    std::vector<std::string> fields; // comma-separated fields after the formatter
};
// Parses one line ('$' ... "*hh", trailing CR/LF/blanks and leading blanks
// ignored).  False when it is not a sentence or the checksum is wrong or
// missing; `out` is then unspecified.
bool nmea_parse_sentence(std::string_view line, nmea_fields &out);

// A message read back from its NRX sentences (for checking the output):
// fields from the first sentence, the unescaped bodies joined.
struct nmea_nrx_read {
    int count = 0, seq = -1;
    std::string ident;
    int freq_index = -1;
    std::string time, day, month, year; // fields as sent ("hhmmss.ss" ...)
    int total = -1, bad = -1;
    char status = 0;
    std::string text; // line ends come back as CR LF
};
// True when `lines` are exactly the sentences 1..n of one NRX message with
// good checksums, lengths <= 82, numbering in order, fields 4-12 present
// in the first sentence only, counts that match the text.
bool nmea_nrx_parse(const std::vector<std::string> &lines, nmea_nrx_read &out);

// NRM fields.
struct nmea_nrm {
    int function = 0;     // 0 query, 1 storage, 2 printer, 3 INS
    int freq_index = 0;   // 1..3
    uint32_t area = 0;    // B1 mask
    uint32_t type = 0;    // B2 mask
    bool has_area = true; // false: the field was empty (leave unchanged)
    bool has_type = true;
    char status = 'R';    // 'R' report, 'C' command, 0 absent
};
// "$CRNRM,f,i,hhhhhhhh,hhhhhhhh,R*hh\r\n".
std::string nmea_nrm_sentence(const nmea_nrm &nrm);

// The current masks, per frequency index 1..3 (array index 0..2).
struct nmea_masks {
    uint32_t area[NMEA_FREQS] = {NMEA_MASK_LETTERS, NMEA_MASK_LETTERS, NMEA_MASK_LETTERS};
    uint32_t type[NMEA_FREQS] = {NMEA_MASK_LETTERS, NMEA_MASK_LETTERS, NMEA_MASK_LETTERS};
};
// Status reports (R) for functions 1, 2, 3 (all three carry the one
// selection) and each frequency index; freq_index 0 gives all three
// frequencies, 1..3 only that one.
std::vector<std::string> nmea_nrm_report(const nmea_masks &masks, int freq_index = 0);

// What an incoming line asks for.
enum class nmea_request_kind {
    none,      // not a sentence for us, bad checksum, report from elsewhere, reserved function
    query,     // "$--CRQ,NRM" or NRM function 0: answer with the reports
    configure, // NRM function 1-3 with frequency index 1-3, status C or absent
};
struct nmea_request {
    nmea_request_kind kind = nmea_request_kind::none;
    nmea_nrm nrm; // for configure (for a query by NRM: its frequency index, 0 = all)
};
nmea_request nmea_parse_request(std::string_view line);

// Masks from the settings' letter tables (a null table selects everything).
nmea_masks nmea_masks_from_settings(const settings_obj &settings);
// Applies one configuration to the settings: sets or clears the table
// entries and adds or removes the matching station/type filters in
// settings.filters, so that message_filter follows at once.  Protected
// types stay selected.  Returns 1 when something changed, 0 when nothing
// did, -1 when the frequency index is not 1..3 or a table it needs is null.
// The caller saves the settings (settings_save) when it returns 1.
int nmea_masks_apply(settings_obj &settings, const nmea_nrm &nrm);

#endif
