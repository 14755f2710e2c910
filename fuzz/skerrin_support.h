// Daemon objects for the decoder's fuzz targets: one per channel count,
// made once (the daemon never frees its object), with every channel's
// chain put back to its start state before each run, and the message
// queue emptied and checked after it.
#ifndef NAVTEX_FUZZ_SKERRIN_SUPPORT_H
#define NAVTEX_FUZZ_SKERRIN_SUPPORT_H

#include "messages.h"
#include "enh_chain.h"
#include "skerrin.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace fuzz {

inline void require(bool ok)
{
    if (!ok)
        std::abort();
}

// A daemon object of `channels` channels (1 to 4) in its start state.
inline skerrin_all *fresh_daemon(int channels)
{
    static skerrin_all *objects[5] = {};
    skerrin_all *&o = objects[channels];
    if (o == nullptr) {
        o = skerrin_init(channels, 0, 1700);
        require(o != nullptr);
    }
    for (int i = 0; i < channels; ++i) {
        skerrin_cha &ch = o->channels[i];
        gt_msg_reset(&ch.msg_obj); // frees a message still being built
        enh_cha_free(ch.enh);      // the enhanced chain of an earlier input
        ch.~skerrin_cha();
        new (&ch) skerrin_cha();
        interp_iq_init(&ch.s_iq, 1700);
        detect_pha_init(&ch.det_obj, 1700, 0);
        sample_bit_init(&ch.bit_obj, 0);
        gt_msg_init(&ch.msg_obj, frequencys[i], 0);
    }
    o->input_fd = -1;
    o->copy_fd = -1;
    o->dbglev = 0;
    o->delay_pr_samp = 0;
    o->export_cha = -1;
    o->start_time = 0;
    o->samp_ignored = 0;
    o->samp_stop = 0;
    o->chain = SKERRIN_CHAIN_SPECIFIED;
    return o;
}

// Checks one finished message record and its client text, formatted into
// a buffer of exactly `room` bytes so that any write past it is seen.
inline void check_message(MessageObj *m, int room)
{
    require(m->msg_id[4] == '\0');
    require(m->length >= 0 && m->length <= m->buf_size);
    require(m->errors >= 0 && m->errors <= m->length);
    require(m->msg_id_len >= 0 && m->msg_id_len <= 6);
    std::vector<char> buf(room > 0 ? static_cast<size_t>(room) : 1);
    int n = message_print_socket(m, buf.data(), room);
    require(n >= 0 && (room <= 0 ? n == 0 : n < room));
}

// Takes every queued message out, checks and frees it; returns how many.
inline int drain_queue(int room)
{
    int count = 0;
    while (MessageObj *m = message_list_get()) {
        check_message(m, room);
        message_remove(&m);
        require(m == nullptr);
        ++count;
    }
    return count;
}

} // namespace fuzz

#endif
