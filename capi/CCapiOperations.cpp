#include "capi/CCapiOperations.h"

#include "capi/CCapiMessageReader.h"
#include "capi/CCapiMessageWriter.h"
#include "capi/CapiConstants.h"

#include <chrono>
#include <cstring>
#include <string>
#include <system_error>

namespace {

// A send buffer: room for the longest message, the largest data block that the
// library copies behind a DATA_B3_REQ, and the two bytes it reads beyond.
struct SendBuffer {
    static_assert(Capi::SEND_BUFFER_SIZE >= Capi::DATA_B3_LENGTH + Capi::MAX_DATA_BLOCK + 2);
    uint8_t bytes[Capi::SEND_BUFFER_SIZE];
};

void Header(CCapiMessageWriter& message, uint32_t applId, uint8_t command, uint8_t subcommand, uint16_t number)
{
    message.Word(0);  // total length, filled in last
    message.Word(static_cast<uint16_t>(applId));
    message.Byte(command);
    message.Byte(subcommand);
    message.Word(number);
}

// A party number struct: its octets, then one byte per character, the
// character's value modulo 64. Null or empty gives an empty struct.
void NumberStruct(CCapiMessageWriter& message, const char* number, const uint8_t* octets, size_t octetCount)
{
    const size_t n = number ? std::strlen(number) : 0;
    if (n == 0) {
        message.EmptyStruct();
        return;
    }
    if (n + octetCount > 255) {
        message.Fail();  // cannot be coded; far beyond what fits in a message anyway
        return;
    }
    message.Byte(static_cast<uint8_t>(n + octetCount));
    message.Bytes(octets, octetCount);
    for (size_t i = 0; i < n; ++i)
        message.Byte(static_cast<uint8_t>(static_cast<unsigned char>(number[i]) % 64));
}

// A text of `length` bytes; c_str() gives it zero-terminated.
std::string Text(const uint8_t* bytes, size_t length)
{
    return std::string(reinterpret_cast<const char*>(bytes), length);
}

}  // namespace

CCapiOperations::CCapiOperations(Options options) : CCapiInterface(std::move(options)), MessageNumber(1) {}

CCapiOperations::~CCapiOperations()
{
    if (Registered || IsReaderActive())
        Release();
    if (!WaitReaderEnded(0)) {
        // The receive thread did not come back in time. Inside the library it
        // can be left to itself; its ticket keeps the library loaded for it.
        if (AbandonReader(Settings.threadEndWaitMs) != READER_ENDED) {
            if (ReceiveThread.joinable())
                ReceiveThread.detach();
            return;
        }
    }
    JoinEndedThread();
}

uint16_t CCapiOperations::NextMessageNumber()
{
    uint16_t current = MessageNumber.load();
    uint16_t next;
    do {
        next = static_cast<uint16_t>(current + 1);
        if (next > 0x7FFF || next == 0)
            next = 1;
    } while (!MessageNumber.compare_exchange_weak(current, next));
    return next;
}

uint16_t CCapiOperations::Send(uint8_t* buffer, CCapiMessageWriter& message, uint16_t number, uint32_t* info)
{
    uint32_t result = Capi::INFO_ILLEGAL_PARAMETER;
    if (message.Ok()) {
        message.FinishLength();
        result = PutMessage(buffer);
    }
    if (info)
        *info = result;
    return result == Capi::INFO_OK ? number : 0;
}

uint16_t CCapiOperations::ConnectReq(const char* calledNumber, const char* callingNumber,
                                     const uint8_t* callingSubaddress, const uint8_t* bProtocol, uint32_t* info)
{
    static const uint8_t calledOctets[] = {0x80};
    static const uint8_t callingOctets[] = {0x00, 0x80};
    SendBuffer buffer;
    CCapiMessageWriter message(buffer.bytes, Capi::MAX_MESSAGE);
    const uint16_t number = NextMessageNumber();
    Header(message, ApplID, Capi::CMD_CONNECT, Capi::SUB_REQ, number);
    message.Dword(1);  // controller 1, no external equipment
    message.Word(2);   // CIP: unrestricted digital information
    NumberStruct(message, calledNumber, calledOctets, sizeof calledOctets);
    NumberStruct(message, callingNumber, callingOctets, sizeof callingOctets);
    message.EmptyStruct();  // called party subaddress
    message.CopyStruct(callingSubaddress);
    message.CopyStruct(bProtocol);
    for (int i = 0; i < 4; ++i)
        message.EmptyStruct();  // BC, LLC, HLC, additional info
    return Send(buffer.bytes, message, number, info);
}

uint16_t CCapiOperations::ConnectB3Req(uint32_t plci)
{
    SendBuffer buffer;
    CCapiMessageWriter message(buffer.bytes, Capi::MAX_MESSAGE);
    const uint16_t number = NextMessageNumber();
    Header(message, ApplID, Capi::CMD_CONNECT_B3, Capi::SUB_REQ, number);
    message.Dword(plci);
    message.EmptyStruct();  // NCPI
    return Send(buffer.bytes, message, number, nullptr);
}

uint16_t CCapiOperations::DataB3Req(uint32_t ncci, const uint8_t* data, uint16_t length)
{
    SendBuffer buffer;
    CCapiMessageWriter message(buffer.bytes, Capi::MAX_MESSAGE);
    const uint16_t number = NextMessageNumber();
    if ((!data && length) || length > Capi::MAX_DATA_BLOCK)
        return 0;
    const uint64_t address = reinterpret_cast<uintptr_t>(data);
    Header(message, ApplID, Capi::CMD_DATA_B3, Capi::SUB_REQ, number);
    message.Dword(ncci);
    // Where addresses are wider than 32 bits the Data field is 0 and Data64 counts.
    message.Dword(sizeof(void*) > 4 ? 0 : static_cast<uint32_t>(address));
    message.Word(length);
    message.Word(number);  // data handle
    message.Word(0);       // flags
    message.Qword(address);
    return Send(buffer.bytes, message, number, nullptr);
}

uint16_t CCapiOperations::DisconnectB3Req(uint32_t ncci)
{
    SendBuffer buffer;
    CCapiMessageWriter message(buffer.bytes, Capi::MAX_MESSAGE);
    const uint16_t number = NextMessageNumber();
    Header(message, ApplID, Capi::CMD_DISCONNECT_B3, Capi::SUB_REQ, number);
    message.Dword(ncci);
    message.EmptyStruct();  // NCPI
    return Send(buffer.bytes, message, number, nullptr);
}

uint16_t CCapiOperations::DisconnectReq(uint32_t plci)
{
    SendBuffer buffer;
    CCapiMessageWriter message(buffer.bytes, Capi::MAX_MESSAGE);
    const uint16_t number = NextMessageNumber();
    Header(message, ApplID, Capi::CMD_DISCONNECT, Capi::SUB_REQ, number);
    message.Dword(plci);
    message.EmptyStruct();  // additional info
    return Send(buffer.bytes, message, number, nullptr);
}

uint16_t CCapiOperations::ConnectResp(uint16_t messageNumber, uint32_t plci)
{
    // B protocol, connected number and subaddress empty, an LLC of six bytes, additional info empty.
    static const uint8_t tail[] = {0x00, 0x00, 0x00, 0x06, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    SendBuffer buffer;
    CCapiMessageWriter message(buffer.bytes, Capi::MAX_MESSAGE);
    Header(message, ApplID, Capi::CMD_CONNECT, Capi::SUB_RESP, messageNumber);
    message.Dword(plci & 0xFFFF);
    message.Word(1);  // reject: ignore the call
    message.Bytes(tail, sizeof tail);
    return Send(buffer.bytes, message, messageNumber, nullptr);
}

uint16_t CCapiOperations::ConnectActiveResp(uint16_t messageNumber, uint32_t plci)
{
    SendBuffer buffer;
    CCapiMessageWriter message(buffer.bytes, Capi::MAX_MESSAGE);
    Header(message, ApplID, Capi::CMD_CONNECT_ACTIVE, Capi::SUB_RESP, messageNumber);
    message.Dword(plci & 0xFFFF);
    return Send(buffer.bytes, message, messageNumber, nullptr);
}

uint16_t CCapiOperations::ConnectB3Resp(uint32_t ncci)
{
    SendBuffer buffer;
    CCapiMessageWriter message(buffer.bytes, Capi::MAX_MESSAGE);
    const uint16_t number = NextMessageNumber();
    Header(message, ApplID, Capi::CMD_CONNECT_B3, Capi::SUB_RESP, number);
    message.Dword(ncci);
    message.Word(0);        // accept
    message.EmptyStruct();  // NCPI
    return Send(buffer.bytes, message, number, nullptr);
}

uint16_t CCapiOperations::ConnectB3ActiveResp(uint32_t ncci)
{
    SendBuffer buffer;
    CCapiMessageWriter message(buffer.bytes, Capi::MAX_MESSAGE);
    const uint16_t number = NextMessageNumber();
    Header(message, ApplID, Capi::CMD_CONNECT_B3_ACTIVE, Capi::SUB_RESP, number);
    message.Dword(ncci);
    return Send(buffer.bytes, message, number, nullptr);
}

uint16_t CCapiOperations::DataB3Resp(uint32_t ncci, uint16_t dataHandle)
{
    SendBuffer buffer;
    CCapiMessageWriter message(buffer.bytes, Capi::MAX_MESSAGE);
    const uint16_t number = NextMessageNumber();
    Header(message, ApplID, Capi::CMD_DATA_B3, Capi::SUB_RESP, number);
    message.Dword(ncci);
    message.Word(dataHandle);
    return Send(buffer.bytes, message, number, nullptr);
}

uint16_t CCapiOperations::DisconnectResp(uint32_t plci)
{
    SendBuffer buffer;
    CCapiMessageWriter message(buffer.bytes, Capi::MAX_MESSAGE);
    const uint16_t number = NextMessageNumber();
    Header(message, ApplID, Capi::CMD_DISCONNECT, Capi::SUB_RESP, number);
    message.Dword(plci & 0xFFFF);
    return Send(buffer.bytes, message, number, nullptr);
}

uint16_t CCapiOperations::InfoResp(uint32_t plci)
{
    SendBuffer buffer;
    CCapiMessageWriter message(buffer.bytes, Capi::MAX_MESSAGE);
    const uint16_t number = NextMessageNumber();
    Header(message, ApplID, Capi::CMD_INFO, Capi::SUB_RESP, number);
    message.Dword(plci & 0xFFFF);
    return Send(buffer.bytes, message, number, nullptr);
}

int CCapiOperations::Start()
{
    StartInfo = Capi::INFO_OK;
    if (IsReaderActive()) {
        // A dial while a call exists, or after a refused CONNECT_REQ: the
        // application that is registered and read goes on serving.
        if (Registered)
            return 0;
        // The last call's thread is on its way out; never two at once.
        if (!WaitReaderEnded(ENDING_THREAD_WAIT_MS)) {
            StartInfo = Capi::INFO_BUSY;
            return 1;
        }
    }
    JoinEndedThread();
    uint32_t result = Installed();
    if (result == Capi::INFO_OK && !Registered)
        result = Register();
    if (result != Capi::INFO_OK) {
        StartInfo = result;
        return 1;
    }
    std::shared_ptr<ReaderTicket> ticket = BeginReader();
    try {
        ReceiveThread = std::thread(&CCapiOperations::ReceiveThreadEntry, this, ticket);
    } catch (const std::system_error&) {
        EndReader();
        Release();
        StartInfo = Capi::INFO_OS_RESOURCE;
        return 1;
    }
    return 0;
}

int CCapiOperations::Stop()
{
    // Release waits, bounded, for a running receive thread to release and end.
    Release();
    if (!IsReaderActive())
        JoinEndedThread();
    return 0;
}

void CCapiOperations::JoinEndedThread()
{
    // Only called once the thread has ended its loop, so this is not a wait.
    if (ReceiveThread.joinable())
        ReceiveThread.join();
}

int CCapiOperations::ReceiveThreadEntry(CCapiOperations* self, std::shared_ptr<ReaderTicket> ticket)
{
    if (!self || !ticket)
        return 0;
    self->AttachReader();
    const int result = self->ReceiveLoop(*ticket);
    if (ticket->abandoned) {
        if (ticket->applId && ticket->release)
            ticket->release(ticket->applId);
        ticket->applId = 0;
    } else {
        self->EndReader();
    }
    ticket->End();
    return result;
}

int CCapiOperations::ReceiveLoop(ReaderTicket& ticket)
{
    int failedPasses = 0;
    while (Registered) {
        if (const uint32_t fault = LinkFault) {
            OnLinkLost(fault);
            break;
        }
        uint32_t result = WaitForSignal(ticket);
        if (ticket.abandoned)
            return 0;
        if (!Registered)
            break;
        if (result == Capi::INFO_QUEUE_EMPTY)
            continue;  // the slice passed without a message
        if (result == Capi::INFO_OK) {
            const uint8_t* message = nullptr;
            result = GetMessage(ticket, message);
            if (ticket.abandoned)
                return 0;
            if (result == Capi::INFO_OK) {
                failedPasses = 0;
                Dispatch(message);
                continue;
            }
        }
        // A wait that reports a message which cannot be read, again and again,
        // is a transport that has gone.
        if (++failedPasses >= LOST_LINK_PASSES) {
            OnLinkLost(result);
            break;
        }
        ticket.Enter();
        std::this_thread::sleep_for(std::chrono::milliseconds(FAILED_PASS_PAUSE_MS));
        if (ticket.Leave())
            return 0;
    }
    // The receive thread makes the release, so it never overlaps its own calls.
    if (ApplID)
        ReleaseNow();
    return 0;
}

void CCapiOperations::Dispatch(const uint8_t* message)
{
    if (!message)
        return;
    // Every field is read within the length the message gives for itself.
    CCapiMessageReader header(message, 2);
    const uint16_t total = header.Word(0);
    CCapiMessageReader in(message, total);
    const uint16_t key = in.Word(4);
    const uint16_t number = in.Word(6);
    const uint32_t address = in.Dword(8);
    if (!in.Ok())
        return;

    switch (key) {
    case Capi::KEY_CONNECT_IND:
        // Incoming calls are never accepted.
        ConnectResp(number, address);
        return;
    case Capi::KEY_ALERT_CONF:
    case Capi::KEY_CONNECT_CONF:
    case Capi::KEY_CONNECT_B3_CONF:
    case Capi::KEY_DISCONNECT_B3_CONF:
    case Capi::KEY_DISCONNECT_CONF:
    case Capi::KEY_INFO_CONF:
    case Capi::KEY_LISTEN_CONF:
    case Capi::KEY_RESET_B3_CONF:
    case Capi::KEY_SELECT_B_PROTOCOL_CONF: {
        const uint16_t info = in.Word(12);
        if (!in.Ok())
            return;
        switch (key) {
        case Capi::KEY_ALERT_CONF: OnAlertConf(number, address, info); break;
        case Capi::KEY_CONNECT_CONF: OnConnectConf(number, address, info); break;
        case Capi::KEY_CONNECT_B3_CONF: OnConnectB3Conf(number, address, info); break;
        case Capi::KEY_DISCONNECT_B3_CONF: OnDisconnectB3Conf(number, address, info); break;
        case Capi::KEY_DISCONNECT_CONF: OnDisconnectConf(number, address, info); break;
        case Capi::KEY_INFO_CONF: OnInfoConf(number, address, info); break;
        case Capi::KEY_LISTEN_CONF: OnListenConf(number, address, info); break;
        case Capi::KEY_RESET_B3_CONF: OnResetB3Conf(number, address, info); break;
        default: OnSelectBProtocolConf(number, address, info); break;
        }
        return;
    }
    case Capi::KEY_DATA_B3_CONF: {
        const uint16_t handle = in.Word(12);
        const uint16_t info = in.Word(14);
        if (in.Ok())
            OnDataB3Conf(number, address, handle, info);
        return;
    }
    case Capi::KEY_INFO_IND: {
        const uint16_t infoNumber = in.Word(12);
        if (!in.Ok())
            return;
        const uint8_t* content = nullptr;
        size_t length = 0;
        const uint8_t* element = in.Struct(14, content, length) ? message + 14 : nullptr;
        OnInfoInd(number, address, infoNumber, element);
        return;
    }
    case Capi::KEY_DISCONNECT_IND: {
        const uint16_t reason = in.Word(12);
        if (in.Ok())
            OnDisconnectInd(number, address, reason);
        return;
    }
    case Capi::KEY_CONNECT_B3_IND:
        OnConnectB3Ind(number, address);
        return;
    case Capi::KEY_CONNECT_B3_ACTIVE_IND:
        OnConnectB3ActiveInd(number, address);
        return;
    case Capi::KEY_DATA_B3_IND: {
        const uint16_t length = in.Word(16);
        const uint16_t handle = in.Word(18);
        const uint16_t flags = in.Word(20);
        if (!in.Ok())
            return;  // too short to be answered at all
        // The block's address: Data64 where addresses are wider than 32 bits.
        uint64_t address64 = 0;
        if (sizeof(void*) > 4) {
            if (total >= Capi::DATA_B3_LENGTH)
                address64 = in.Qword(Capi::DATA_B3_DATA64_OFFSET);
        } else {
            address64 = in.Dword(12);
        }
        const uint8_t* data = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(address64));
        // The library lays the block out right behind the message; an address
        // anywhere else is not the library's and is never read. Such a block,
        // or one longer than registered, is dropped; the indication is still
        // answered, so the driver gets its buffer back.
        if (!data || data != message + total || length > Capi::MAX_DATA_BLOCK) {
            OnDataB3Ind(number, address, nullptr, 0, handle, flags);
            return;
        }
        OnDataB3Ind(number, address, data, length, handle, flags);
        return;
    }
    case Capi::KEY_CONNECT_ACTIVE_IND: {
        const uint8_t* content = nullptr;
        size_t n = 0;
        const size_t afterNumber = in.Struct(12, content, n);
        std::string numberText;
        bool haveNumber = false;
        if (afterNumber && n >= 3 && content[0] == 0x00) {
            // Type of number and presentation octets, then the digits.
            numberText = Text(content + 2, n - 2);
            haveNumber = true;
        }
        std::string subaddressText;
        bool haveSubaddress = false;
        if (afterNumber) {
            size_t m = 0;
            if (in.Struct(afterNumber, content, m) && m >= 2 && content[0] == 0x80) {
                subaddressText = Text(content + 1, m - 1);
                haveSubaddress = true;
            }
        }
        OnConnectActiveInd(number, address, haveNumber ? numberText.c_str() : nullptr,
                           haveSubaddress ? subaddressText.c_str() : nullptr);
        return;
    }
    default:
        // DISCONNECT_B3_IND, RESET_B3_IND, FACILITY and MANUFACTURER messages
        // and everything else: no handler, no response.
        return;
    }
}

void CCapiOperations::OnLinkLost(uint32_t) {}

void CCapiOperations::OnAlertConf(uint16_t, uint32_t, uint16_t) {}
void CCapiOperations::OnConnectConf(uint16_t, uint32_t, uint16_t) {}
void CCapiOperations::OnConnectB3Conf(uint16_t, uint32_t, uint16_t) {}
void CCapiOperations::OnDataB3Conf(uint16_t, uint32_t, uint16_t, uint16_t) {}
void CCapiOperations::OnDisconnectB3Conf(uint16_t, uint32_t, uint16_t) {}
void CCapiOperations::OnDisconnectConf(uint16_t, uint32_t, uint16_t) {}
void CCapiOperations::OnInfoConf(uint16_t, uint32_t, uint16_t) {}
void CCapiOperations::OnListenConf(uint16_t, uint32_t, uint16_t) {}
void CCapiOperations::OnResetB3Conf(uint16_t, uint32_t, uint16_t) {}
void CCapiOperations::OnSelectBProtocolConf(uint16_t, uint32_t, uint16_t) {}

void CCapiOperations::OnInfoInd(uint16_t, uint32_t plci, uint16_t, const uint8_t*)
{
    InfoResp(plci);
}

void CCapiOperations::OnConnectActiveInd(uint16_t messageNumber, uint32_t plci, const char*, const char*)
{
    // An object that does not take calls answers and clears at once.
    ConnectActiveResp(messageNumber, plci);
    DisconnectReq(plci);
}

void CCapiOperations::OnConnectB3Ind(uint16_t, uint32_t ncci)
{
    ConnectB3Resp(ncci);
}

void CCapiOperations::OnConnectB3ActiveInd(uint16_t, uint32_t ncci)
{
    ConnectB3ActiveResp(ncci);
}

void CCapiOperations::OnDisconnectInd(uint16_t, uint32_t plci, uint16_t)
{
    DisconnectResp(plci);
}

void CCapiOperations::OnDataB3Ind(uint16_t, uint32_t ncci, const uint8_t*, uint16_t, uint16_t dataHandle, uint16_t)
{
    DataB3Resp(ncci, dataHandle);
}
