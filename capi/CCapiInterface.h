#pragma once

#include "capi/CCapiFunctions.h"
#include "capi/CCapiOptions.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class CDynamicLibrary;

// Binds the CAPI 2.0 library at run time and owns the one application
// registration through which every message passes.
//
// The library takes no lock of its own, and a release must never overlap
// another call for the same application. So the receive thread, the only one
// that waits and reads, also makes the release whenever it runs: a release
// asked for on another thread clears `Registered` and waits (bounded) for the
// receive thread to release on its way out. Puts and releases are serialised
// by a lock that is never held across a wait.
class CCapiInterface {
public:
    using Options = CCapiOptions;

    explicit CCapiInterface(Options options = Options());
    virtual ~CCapiInterface();
    CCapiInterface(const CCapiInterface&) = delete;
    CCapiInterface& operator=(const CCapiInterface&) = delete;

    // True when all ten standard entry points are bound.
    bool IsBound() const { return Functions.IsBound(); }
    // 0 when the driver can be used; the library's "not installed" is 0x1109.
    uint32_t Installed();
    // Registers an application (2 connections, 7 blocks of 2048 bytes) on a
    // helper thread, waiting at most callTimeoutMs for it.
    uint32_t Register();
    // Releases the application; see the class comment for which thread does it.
    uint32_t Release();
    // Hands one message to the driver; it is taken over before the call returns.
    uint32_t PutMessage(uint8_t* message);
    // The next incoming message; valid until the next GetMessage. Receive thread only.
    uint32_t GetMessage(const uint8_t*& message);
    // Waits one slice for a message: 0 when one waits, 0x1104 when none came. Receive thread only.
    uint32_t WaitForSignal();

    std::atomic<uint32_t> ApplID;   // atomic: the registered application; 0 when none
    std::atomic<bool> Registered;   // atomic: true from a successful Register until the release is asked for

protected:
    const Options Settings;  // fixed at construction

    // What a receive thread shares with the object, so that it can be left
    // behind safely when it does not come back from the library in time. The
    // thread touches the object only between Leave and the next Enter.
    struct ReaderTicket {
        // Receive thread: about to wait or read inside the library (or pause),
        // touching nothing of the object until Leave.
        void Enter();
        // Receive thread: back from the library; true when the object is gone
        // meanwhile, and then it must touch nothing but this ticket.
        bool Leave();
        // Receive thread: the last thing it does.
        void End();

        std::mutex lock;                  // guards inLibrary, ended, applId
        std::condition_variable changed;  // signalled whenever inLibrary or ended change
        bool inLibrary = false;           // the thread is between Enter and Leave
        bool ended = false;               // the thread has finished
        std::atomic<bool> abandoned{false};  // set only while inLibrary: the object is gone
        uint32_t applId = 0;              // what an abandoned thread still has to release
        std::shared_ptr<CDynamicLibrary> library;     // keeps the library loaded while the thread lives
        CCapiFunctions::ReleaseFn release = nullptr;  // for that last release
    };
    enum AbandonOutcome { READER_ENDED, READER_ABANDONED, READER_STUCK };

    // The reader handshake between Start, the receive thread, Release and destruction.
    std::shared_ptr<ReaderTicket> BeginReader();  // before the receive thread is created
    void AttachReader();                          // first thing on the receive thread
    void EndReader();                             // last touch of the object by the receive thread
    bool IsReaderActive();
    // True when no receive thread is running (any more) within `timeoutMs`.
    bool WaitReaderEnded(int timeoutMs);
    // Destruction, after the receive thread did not end in time: waits up to
    // `timeoutMs` for it to be inside the library, and then leaves it to
    // itself. READER_STUCK when it stayed in the object's code all along.
    AbandonOutcome AbandonReader(int timeoutMs);
    // One wait slice and one read for the receive thread, entered and left
    // on its ticket. The caller looks at `abandoned` afterwards.
    uint32_t WaitForSignal(ReaderTicket& ticket);
    uint32_t GetMessage(ReaderTicket& ticket, const uint8_t*& message);
    // The release itself; on the receive thread, or when none runs.
    uint32_t ReleaseNow();

    std::atomic<uint32_t> LinkFault;  // atomic: a put error that showed the transport gone; 0 when none

private:
    std::shared_ptr<CDynamicLibrary> Module;  // the library; shared with helper threads still inside it
    CCapiFunctions Functions;                 // entry points; written only by construction and destruction
    std::mutex CallLock;                      // serialises puts and the release; never held across a wait
    std::mutex ReaderLock;                    // guards ReaderActive and ReaderThread
    std::condition_variable ReaderEnded;      // signalled when ReaderActive goes false
    bool ReaderActive = false;                // a receive thread runs for the application
    std::thread::id ReaderThread;             // that thread, once it has attached
    std::shared_ptr<ReaderTicket> Ticket;     // guarded by ReaderLock: the ticket of the latest receive thread
};
