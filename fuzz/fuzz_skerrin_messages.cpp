// Message assembler and message record: any character sequence for one
// channel's assembler, with resets (loss of phasing) anywhere, any error
// limit and any reception clock; every queued message is checked and its
// client text formatted into a buffer of any size.
// Input: error limit, clock flag, buffer room (2 bytes), then characters;
// the byte 0xFF stands for a reset.
#include "skerrin_support.h"

#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    static bool queue_ready = false;
    if (!queue_ready) {
        message_list_init();
        queue_ready = true;
    }
    gt_msg_obj assembler;
    gt_msg_init(&assembler, 518, 0);
    assembler.max_err = data[0] * 0.5;
    if (data[1] & 1)
        assembler.time = 1700000000;
    const int room = data[2] | (data[3] & 0x3F) << 8;

    int queued = 0;
    for (size_t i = 4; i < size; ++i) {
        if (data[i] == 0xFF) {
            gt_msg_reset(&assembler);
            fuzz::require(assembler.message == nullptr);
            continue;
        }
        const int before = message_list_len();
        int r = gt_msg(&assembler, static_cast<char>(data[i]), -80.0);
        fuzz::require(r == 0 || r == -1);
        const int after = message_list_len();
        // Only a message end queues, one message at a time.
        fuzz::require(after == before || (after == before + 1 && r == 0));
        queued += after - before;
        if (assembler.message != nullptr)
            fuzz::check_message(assembler.message, room);
    }
    gt_msg_reset(&assembler);
    fuzz::require(fuzz::drain_queue(room) == queued);
    return 0;
}
