#pragma once

#include <cstdint>

// The fake CAPI library's controls, for the tests that drive it.
extern "C" {
void fake_reset(void);
// Settings: installed, register_result, block_register, put_result,
// auto_confirm (1: confirm each DATA_B3_REQ; 2: and handle the confirmation
// before the put returns), confirm_info, stall_wait, fileno.
void fake_set(const char* name, long value);
// Queues one incoming message (a DATA_B3_IND with its block right behind it).
void fake_push(const uint8_t* bytes, unsigned length);
// Queues `bytes` when the next message with dispatch key `key` is put.
void fake_reply_on_put(uint16_t key, const uint8_t* bytes, unsigned length);
// From now on waits report a message at once, reads fail, and every put but the first fails.
void fake_lose_link(void);
// Counters: installed, register, release, put, put_refused, get, got, wait,
// fileno, overlap, get_without_message, bad_data_resp, data_handle_reused,
// stalled (waits held by stall_wait).
unsigned fake_counter(const char* name);
int fake_wait_counter(const char* name, unsigned atLeast, int timeoutMs);
int fake_sent_count(void);
int fake_wait_sent(int count, int timeoutMs);
// Copies a sent message (or a DATA_B3_REQ's block); returns its full length, -1 when there is none.
int fake_sent_message(int index, uint8_t* buffer, int capacity);
int fake_sent_data(int index, uint8_t* buffer, int capacity);
unsigned fake_register_arg(int index);
unsigned fake_last_released(void);
int fake_is_registered(unsigned applId);
}
