// A stateless stand-in for the CAPI library that lacks one entry point, to
// show what the binding does with an incomplete library.
#include <sys/time.h>

#include <thread>
#include <chrono>

extern "C" {

unsigned capi20_isinstalled(void) { return 0; }

unsigned capi20_register(unsigned, unsigned, unsigned, unsigned* applId)
{
    *applId = 1;
    return 0;
}

unsigned capi20_release(unsigned) { return 0; }
unsigned capi20_put_message(unsigned, unsigned char*) { return 0; }
unsigned capi20_get_message(unsigned, unsigned char**) { return 0x1104; }

unsigned capi20_waitformessage(unsigned, struct timeval* timeout)
{
    std::this_thread::sleep_for(std::chrono::microseconds(timeout->tv_sec * 1000000L + timeout->tv_usec));
    return 0x1104;
}

unsigned char* capi20_get_manufacturer(unsigned, unsigned char* buffer) { return buffer; }
unsigned char* capi20_get_version(unsigned, unsigned char* buffer) { return buffer; }
unsigned char* capi20_get_serial_number(unsigned, unsigned char* buffer) { return buffer; }

#ifndef FAKE_WITHOUT_PROFILE
unsigned capi20_get_profile(unsigned, unsigned char*) { return 0; }
#endif

#ifndef FAKE_WITHOUT_FILENO
int capi20_fileno(unsigned) { return -1; }
#endif

}  // extern "C"
