#include "capi/CCapiInterface.h"

#include "capi/CBoundedCall.h"
#include "capi/CapiConstants.h"
#include "platform/CDynamicLibrary.h"
#include "platform/CSocketApi.h"

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <chrono>
#include <csignal>

namespace {

// The library answers "not installed" with its own value; callers see one.
uint32_t MapNotInstalled(uint32_t info)
{
    return info == Capi::INFO_LIBRARY_NOT_INSTALLED ? Capi::INFO_NOT_INSTALLED : info;
}

// A put on a transport whose peer has gone raises SIGPIPE, which would end the
// program; ignored, the put fails with an info value instead. A handler that
// the program installed itself is left alone.
void IgnoreBrokenPipe()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current {};
        if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
            struct sigaction ignore {};
            ignore.sa_handler = SIG_IGN;
            sigemptyset(&ignore.sa_mask);
            sigaction(SIGPIPE, &ignore, nullptr);
        }
    });
}

}  // namespace

CCapiInterface::CCapiInterface(Options options)
    : ApplID(0), Registered(false), Settings(std::move(options)), LinkFault(0),
      Module(std::make_shared<CDynamicLibrary>())
{
    IgnoreBrokenPipe();
    if (Module->Load(Settings.library))
        Functions.Bind(*Module);
}

CCapiInterface::~CCapiInterface()
{
    // A receive thread that is still running was left to itself by the
    // derived destructor and releases on its own.
    if ((Registered || ApplID) && !IsReaderActive())
        Release();
    Functions.Clear();
    // A helper thread still inside the library keeps its own reference.
    Module.reset();
}

uint32_t CCapiInterface::Installed()
{
    if (!Functions.Installed)
        return Capi::INFO_NOT_INSTALLED;
    auto library = Module;
    auto installed = Functions.Installed;
    uint32_t result = 0;
    // Asking may open a connection to a remote driver; one that does not come
    // back in time counts as no driver.
    if (CBoundedCall::Run([library, installed] { return static_cast<uint32_t>(installed()); }, nullptr,
                          Settings.callTimeoutMs, result) != CBoundedCall::DONE)
        return Capi::INFO_NOT_INSTALLED;
    return MapNotInstalled(result);
}

uint32_t CCapiInterface::Register()
{
    if (!Functions.Register)
        return Capi::INFO_NOT_INSTALLED;
    auto library = Module;
    auto registerFn = Functions.Register;
    auto releaseFn = Functions.Release;
    auto id = std::make_shared<unsigned>(0);
    uint32_t result = 0;
    // The library blocks for ever when its peer accepts but never answers. An
    // abandoned registration that succeeds late is released by the helper,
    // since nobody else will ever know its id.
    const CBoundedCall::Outcome outcome = CBoundedCall::Run(
        [library, registerFn, id] {
            return static_cast<uint32_t>(registerFn(Capi::MAX_LOGICAL_CONNECTIONS, Capi::MAX_B_DATA_BLOCKS,
                                                    Capi::MAX_B_DATA_LEN, id.get()));
        },
        [library, releaseFn, id](uint32_t late) {
            if (late == Capi::INFO_OK && *id != 0)
                releaseFn(*id);
        },
        Settings.callTimeoutMs, result);
    if (outcome != CBoundedCall::DONE)
        return Capi::INFO_REGISTER_OS_RESOURCE;
    result = MapNotInstalled(result);
    if (result != Capi::INFO_OK)
        return result;
    if (*id == 0)
        return Capi::INFO_REGISTER_OS_RESOURCE;
    ApplID = *id;
    LinkFault = 0;
    Registered = true;
    // Each put is one send on the transport; without this two small messages
    // in a row wait for the peer's delayed acknowledgement.
    if (Functions.Fileno) {
        const int fd = Functions.Fileno(*id);
        if (fd >= 0) {
            const int on = 1;
            CSocketApi::Get().SetSockOpt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        }
    }
    return Capi::INFO_OK;
}

uint32_t CCapiInterface::Release()
{
    if (!Functions.Release)
        return Capi::INFO_NOT_INSTALLED;
    Registered = false;
    {
        std::unique_lock<std::mutex> guard(ReaderLock);
        if (ReaderActive && ReaderThread != std::this_thread::get_id()) {
            // The receive thread releases once its current slice is over.
            ReaderEnded.wait_for(guard, std::chrono::milliseconds(Settings.threadEndWaitMs),
                                 [this] { return !ReaderActive; });
            return ApplID == 0 ? Capi::INFO_OK : Capi::INFO_BUSY;
        }
    }
    return ReleaseNow();
}

uint32_t CCapiInterface::ReleaseNow()
{
    std::lock_guard<std::mutex> guard(CallLock);
    Registered = false;
    const uint32_t id = ApplID.exchange(0);
    if (!id || !Functions.Release)
        return Capi::INFO_NOT_INSTALLED;
    return Functions.Release(id);
}

uint32_t CCapiInterface::PutMessage(uint8_t* message)
{
    if (!Functions.PutMessage || !message)
        return Capi::INFO_NOT_INSTALLED;
    std::lock_guard<std::mutex> guard(CallLock);
    const uint32_t id = ApplID;
    if (!id)
        return Capi::INFO_NOT_INSTALLED;
    // The header carries the application that the message goes to now.
    message[2] = static_cast<uint8_t>(id);
    message[3] = static_cast<uint8_t>(id >> 8);
    const uint32_t result = Functions.PutMessage(id, message);
    if (result == Capi::INFO_OS_RESOURCE) {
        uint32_t none = 0;
        LinkFault.compare_exchange_strong(none, result);
    }
    return result;
}

uint32_t CCapiInterface::GetMessage(const uint8_t*& message)
{
    message = nullptr;
    if (!Functions.GetMessage)
        return Capi::INFO_NOT_INSTALLED;
    const uint32_t id = ApplID;
    if (!id)
        return Capi::INFO_NOT_INSTALLED;
    unsigned char* received = nullptr;
    const uint32_t result = Functions.GetMessage(id, &received);
    if (result != Capi::INFO_OK)
        return result;
    if (!received)
        return Capi::INFO_QUEUE_EMPTY;
    message = received;
    return Capi::INFO_OK;
}

uint32_t CCapiInterface::WaitForSignal()
{
    if (!Functions.WaitForMessage)
        return Capi::INFO_NOT_INSTALLED;
    const uint32_t id = ApplID;
    if (!id)
        return Capi::INFO_NOT_INSTALLED;
    // The library writes the time left back into the timeval: a fresh one each call.
    struct timeval slice {};
    slice.tv_sec = Settings.waitSliceMs / 1000;
    slice.tv_usec = (Settings.waitSliceMs % 1000) * 1000;
    return Functions.WaitForMessage(id, &slice);
}

std::shared_ptr<CCapiInterface::ReaderTicket> CCapiInterface::BeginReader()
{
    auto ticket = std::make_shared<ReaderTicket>();
    ticket->library = Module;
    ticket->release = Functions.Release;
    std::lock_guard<std::mutex> guard(ReaderLock);
    ReaderActive = true;
    ReaderThread = std::thread::id();
    Ticket = ticket;
    return ticket;
}

void CCapiInterface::AttachReader()
{
    std::lock_guard<std::mutex> guard(ReaderLock);
    ReaderThread = std::this_thread::get_id();
}

void CCapiInterface::EndReader()
{
    std::lock_guard<std::mutex> guard(ReaderLock);
    ReaderActive = false;
    ReaderThread = std::thread::id();
    ReaderEnded.notify_all();
}

bool CCapiInterface::IsReaderActive()
{
    std::lock_guard<std::mutex> guard(ReaderLock);
    return ReaderActive;
}

bool CCapiInterface::WaitReaderEnded(int timeoutMs)
{
    std::unique_lock<std::mutex> guard(ReaderLock);
    return ReaderEnded.wait_for(guard, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                                [this] { return !ReaderActive; });
}

void CCapiInterface::ReaderTicket::Enter()
{
    std::lock_guard<std::mutex> guard(lock);
    inLibrary = true;
    changed.notify_all();
}

bool CCapiInterface::ReaderTicket::Leave()
{
    std::lock_guard<std::mutex> guard(lock);
    inLibrary = false;
    changed.notify_all();
    return abandoned;
}

void CCapiInterface::ReaderTicket::End()
{
    std::lock_guard<std::mutex> guard(lock);
    ended = true;
    changed.notify_all();
}

CCapiInterface::AbandonOutcome CCapiInterface::AbandonReader(int timeoutMs)
{
    std::shared_ptr<ReaderTicket> ticket;
    {
        std::lock_guard<std::mutex> guard(ReaderLock);
        ticket = Ticket;
    }
    if (!ticket)
        return READER_ENDED;
    std::unique_lock<std::mutex> guard(ticket->lock);
    ticket->changed.wait_for(guard, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                             [&] { return ticket->inLibrary || ticket->ended; });
    if (ticket->ended)
        return READER_ENDED;
    if (!ticket->inLibrary)
        return READER_STUCK;
    // Inside the library it touches nothing of ours; back, it releases what is left.
    Registered = false;
    ticket->applId = ApplID.exchange(0);
    ticket->abandoned = true;
    return READER_ABANDONED;
}

uint32_t CCapiInterface::WaitForSignal(ReaderTicket& ticket)
{
    const uint32_t id = ApplID;
    const auto wait = Functions.WaitForMessage;
    if (!wait || !id)
        return Capi::INFO_NOT_INSTALLED;
    struct timeval slice {};
    slice.tv_sec = Settings.waitSliceMs / 1000;
    slice.tv_usec = (Settings.waitSliceMs % 1000) * 1000;
    ticket.Enter();
    const uint32_t result = wait(id, &slice);
    ticket.Leave();
    return result;
}

uint32_t CCapiInterface::GetMessage(ReaderTicket& ticket, const uint8_t*& message)
{
    message = nullptr;
    const uint32_t id = ApplID;
    const auto get = Functions.GetMessage;
    if (!get || !id)
        return Capi::INFO_NOT_INSTALLED;
    unsigned char* received = nullptr;
    ticket.Enter();
    const uint32_t result = get(id, &received);
    if (ticket.Leave())
        return result;
    if (result != Capi::INFO_OK)
        return result;
    if (!received)
        return Capi::INFO_QUEUE_EMPTY;
    message = received;
    return Capi::INFO_OK;
}
