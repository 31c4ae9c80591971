#include "sim/VxiFront.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <rpc/pmap_clnt.h>
#include <rpc/rpc.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "sim/vxi11core.h"

namespace ondrevo::sim {

namespace {

// Error codes of the core channel.
constexpr Device_ErrorCode kNoError = 0;
constexpr Device_ErrorCode kDeviceNotAccessible = 3;
constexpr Device_ErrorCode kInvalidLink = 4;
constexpr Device_ErrorCode kIoTimeout = 15;
// Read reasons and write flags.
constexpr long kReasonRequestCount = 1;
constexpr long kReasonTermChar = 2;
constexpr long kReasonEnd = 4;
constexpr long kFlagTermCharSet = 0x80;
constexpr long kFlagEnd = 0x08;
constexpr unsigned long kMaxReceive = 1 << 20;
// A read waits no longer than this for a reply that is not there, whatever the client asks.
constexpr unsigned long kMaxReadWaitMs = 10000;

std::mutex gActiveLock;
TVxiFront::TState* gActive = nullptr;  // the state the dispatcher serves

extern "C" void DispatchCore(struct svc_req* request, SVCXPRT* transport);
// The null procedure's empty reply.
extern "C" bool_t EncodeNothing(XDR*, ...) {
  return TRUE;
}

}  // namespace

struct TVxiFront::TState {
  TVxiFront* Front = nullptr;
  SVCXPRT* Listener = nullptr;
  Device_Link NextLink = 1;
  Device_Link Link = 0;  // 0: none
  int LinkFd = -1;       // the connection that holds the link
  std::string Input;     // a line not ended yet
  std::string Output;    // replies not read yet
  bool DropAll = false;  // end every connection after this call

  bool LinkAlive() const {
    for (int i = 0; i < svc_max_pollfd; ++i)
      if (svc_pollfd[i].fd == LinkFd) return true;
    return false;
  }
  void DropLink() {
    Link = 0;
    LinkFd = -1;
    Input.clear();
    Output.clear();
    if (Front->slot_) Front->slot_->Release(2);
  }
  Create_LinkResp CreateLink(const Create_LinkParms& parms, int fd) {
    Create_LinkResp resp{};
    if (Link != 0 && LinkFd != fd && LinkAlive()) {
      ++Front->refused_;
      resp.error = kDeviceNotAccessible;
      return resp;
    }
    if (Link != 0) DropLink();
    if (Front->slot_ && !Front->slot_->Take(2)) {
      ++Front->refused_;
      resp.error = kDeviceNotAccessible;
      return resp;
    }
    (void)parms;
    Link = NextLink++;
    LinkFd = fd;
    resp.error = kNoError;
    resp.lid = Link;
    resp.abortPort = 0;
    resp.maxRecvSize = kMaxReceive;
    return resp;
  }
  Device_WriteResp Write(const Device_WriteParms& parms) {
    Device_WriteResp resp{};
    if (Link == 0 || parms.lid != Link) {
      resp.error = kInvalidLink;
      return resp;
    }
    if (Front->dropAfter_ > 0 && --Front->dropAfter_ == 0) DropAll = true;
    // A new command drops what the last one left unread, as the instrument's output queue does.
    Output.clear();
    Input.append(parms.data.data_val, parms.data.data_len);
    // END ends the message as a line feed does (clients that send "*IDN?" without one).
    if ((parms.flags & kFlagEnd) && !Input.empty() && Input.back() != '\n') Input += '\n';
    std::size_t end;
    while ((end = Input.find('\n')) != std::string::npos) {
      std::string line = Input.substr(0, end);
      Input.erase(0, end + 1);
      std::erase(line, '\r');
      if (auto reply = Front->instrument_->HandleLine(line); reply && !Front->silent_)
        Output += *reply + "\n";
    }
    if (Input.size() > kMaxReceive) Input.clear();
    resp.size = parms.data.data_len;
    return resp;
  }
  // The reply bytes handed out live in `Output` until the next call.
  Device_ReadResp Read(const Device_ReadParms& parms, std::string& chunk) {
    Device_ReadResp resp{};
    if (Link == 0 || parms.lid != Link) {
      resp.error = kInvalidLink;
      return resp;
    }
    if (Output.empty()) {
      // Nothing will come: wait out the client's time-out (bounded, and ended by a stop).
      pollfd pfd{Front->stopFd_, POLLIN, 0};
      ::poll(&pfd, 1, static_cast<int>(std::min(parms.io_timeout, kMaxReadWaitMs)));
      resp.error = kIoTimeout;
      return resp;
    }
    std::size_t take =
        std::min<std::size_t>(Output.size(), std::max<unsigned long>(parms.requestSize, 1));
    if (parms.flags & kFlagTermCharSet) {
      const auto at = Output.find(parms.termChar);
      if (at != std::string::npos && at + 1 <= take) {
        take = at + 1;
        resp.reason |= kReasonTermChar;
      }
    }
    chunk = Output.substr(0, take);
    Output.erase(0, take);
    // END comes with the end of a reply line, as the instrument sends it with its line feed.
    if (!chunk.empty() && chunk.back() == '\n') resp.reason |= kReasonEnd;
    if (resp.reason == 0) resp.reason = kReasonRequestCount;
    resp.data.data_len = static_cast<u_int>(chunk.size());
    resp.data.data_val = chunk.data();
    return resp;
  }
};

namespace {

extern "C" void DispatchCore(struct svc_req* request, SVCXPRT* transport) {
  TVxiFront::TState* state = gActive;
  if (!state) {
    svcerr_systemerr(transport);
    return;
  }
  switch (request->rq_proc) {
    case 0:
      svc_sendreply(transport, EncodeNothing, nullptr);
      return;
    case 10: {
      Create_LinkParms parms{};
      if (!svc_getargs(transport, reinterpret_cast<xdrproc_t>(xdr_Create_LinkParms),
                       reinterpret_cast<char*>(&parms))) {
        svcerr_decode(transport);
        return;
      }
      Create_LinkResp resp = state->CreateLink(parms, transport->xp_fd);
      // A refused link fails the call itself: some clients never look at the link's error code
      // and would go on writing to a link they do not have.
      if (resp.error != kNoError) {
        svcerr_systemerr(transport);
        svc_freeargs(transport, reinterpret_cast<xdrproc_t>(xdr_Create_LinkParms),
                     reinterpret_cast<char*>(&parms));
        return;
      }
      svc_sendreply(transport, reinterpret_cast<xdrproc_t>(xdr_Create_LinkResp),
                    reinterpret_cast<char*>(&resp));
      svc_freeargs(transport, reinterpret_cast<xdrproc_t>(xdr_Create_LinkParms),
                   reinterpret_cast<char*>(&parms));
      return;
    }
    case 11: {
      Device_WriteParms parms{};
      if (!svc_getargs(transport, reinterpret_cast<xdrproc_t>(xdr_Device_WriteParms),
                       reinterpret_cast<char*>(&parms))) {
        svcerr_decode(transport);
        return;
      }
      Device_WriteResp resp = state->Write(parms);
      svc_sendreply(transport, reinterpret_cast<xdrproc_t>(xdr_Device_WriteResp),
                    reinterpret_cast<char*>(&resp));
      svc_freeargs(transport, reinterpret_cast<xdrproc_t>(xdr_Device_WriteParms),
                   reinterpret_cast<char*>(&parms));
      return;
    }
    case 12: {
      Device_ReadParms parms{};
      if (!svc_getargs(transport, reinterpret_cast<xdrproc_t>(xdr_Device_ReadParms),
                       reinterpret_cast<char*>(&parms))) {
        svcerr_decode(transport);
        return;
      }
      std::string chunk;
      Device_ReadResp resp = state->Read(parms, chunk);
      svc_sendreply(transport, reinterpret_cast<xdrproc_t>(xdr_Device_ReadResp),
                    reinterpret_cast<char*>(&resp));
      svc_freeargs(transport, reinterpret_cast<xdrproc_t>(xdr_Device_ReadParms),
                   reinterpret_cast<char*>(&parms));
      return;
    }
    case 23: {
      Device_Link link = 0;
      if (!svc_getargs(transport, reinterpret_cast<xdrproc_t>(xdr_Device_Link),
                       reinterpret_cast<char*>(&link))) {
        svcerr_decode(transport);
        return;
      }
      Device_Error resp{kNoError};
      if (state->Link != 0 && link == state->Link)
        state->DropLink();
      else
        resp.error = kInvalidLink;
      svc_sendreply(transport, reinterpret_cast<xdrproc_t>(xdr_Device_Error),
                    reinterpret_cast<char*>(&resp));
      return;
    }
    default:
      svcerr_noproc(transport);
  }
}

}  // namespace

bool PortMapperRunning() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(111);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

int RegisteredVxiPort() {
  if (!PortMapperRunning()) return 0;  // the RPC library would wait long for no answer
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return pmap_getport(&address, DEVICE_CORE, DEVICE_CORE_VERSION, IPPROTO_TCP);
}

namespace {

bool Accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

TVxiFront::TVxiFront(std::shared_ptr<TSimInstrument> instrument, std::shared_ptr<TClientSlot> slot,
                     bool keepLiveEntry)
    : instrument_(std::move(instrument)),
      slot_(std::move(slot)),
      state_(std::make_unique<TState>()) {
  if (!instrument_) throw std::invalid_argument("A front needs an instrument.");
  state_->Front = this;
  {
    std::lock_guard guard(gActiveLock);
    if (gActive) throw std::runtime_error("This process serves VXI-11 for another instrument.");
    gActive = state_.get();
  }
  try {
    stopFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (stopFd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      const int error = errno;
      ::close(fd);
      throw std::system_error(error, std::generic_category(), "VXI-11 listener");
    }
    port_ = ntohs(address.sin_port);
    state_->Listener = svc_vc_create(fd, 0, 0);
    if (!state_->Listener) {
      ::close(fd);
      throw std::runtime_error("The RPC library cannot serve the VXI-11 channel.");
    }
    // A stale entry of an instrument that died would send clients to a closed port.
    if (!svc_register(state_->Listener, DEVICE_CORE, DEVICE_CORE_VERSION, DispatchCore, 0))
      throw std::runtime_error("The VXI-11 channel cannot be registered.");
    // Registered with the port mapper by hand: the library's own registration names no port for
    // a transport it did not bind itself.
    const int listed = keepLiveEntry ? RegisteredVxiPort() : 0;
    if (listed != 0 && Accepts(listed)) {
      displaced_ = true;
    } else if (PortMapperRunning()) {
      pmap_unset(DEVICE_CORE, DEVICE_CORE_VERSION);
      registered_ = pmap_set(DEVICE_CORE, DEVICE_CORE_VERSION, IPPROTO_TCP,
                             static_cast<unsigned short>(port_));
    }
  } catch (...) {
    if (state_->Listener) svc_destroy(state_->Listener);
    if (stopFd_ >= 0) ::close(stopFd_);
    std::lock_guard guard(gActiveLock);
    gActive = nullptr;
    throw;
  }
  thread_ = std::thread([this] { Run(); });
}

TVxiFront::~TVxiFront() {
  stopping_ = true;
  const std::uint64_t one = 1;
  [[maybe_unused]] const auto written = ::write(stopFd_, &one, sizeof one);
  if (thread_.joinable()) thread_.join();
  // Every connection ends as if the instrument were switched off: the RPC library notices the
  // shut-down sockets and destroys their transports.
  std::vector<pollfd> fds;
  for (int i = 0; i < svc_max_pollfd; ++i) {
    pollfd pfd = svc_pollfd[i];
    pfd.revents = 0;
    if (pfd.fd >= 0 && pfd.fd != state_->Listener->xp_fd) {
      ::shutdown(pfd.fd, SHUT_RDWR);
      pfd.revents = POLLIN;
    }
    fds.push_back(pfd);
  }
  int ready = 0;
  for (const auto& pfd : fds) ready += pfd.revents ? 1 : 0;
  if (ready > 0) svc_getreq_poll(fds.data(), ready);
  // Only while the entry is still this front's: another may have taken the place over since.
  // The library's unregistering takes the port mapper's entry away too, whoever's it is.
  const int listed = RegisteredVxiPort();
  if (registered_ && listed == port_) pmap_unset(DEVICE_CORE, DEVICE_CORE_VERSION);
  if (listed == 0 || listed == port_) svc_unregister(DEVICE_CORE, DEVICE_CORE_VERSION);
  svc_destroy(state_->Listener);
  if (state_->Link != 0 && slot_) slot_->Release(2);
  ::close(stopFd_);
  std::lock_guard guard(gActiveLock);
  gActive = nullptr;
}

void TVxiFront::Run() {
  // The RPC library writes replies without guarding against a client that is gone.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  std::vector<pollfd> fds;
  while (!stopping_) {
    fds.assign(svc_pollfd, svc_pollfd + svc_max_pollfd);
    fds.push_back({stopFd_, POLLIN, 0});
    const int ready = ::poll(fds.data(), fds.size(), 200);
    if (ready < 0 && errno != EINTR) break;
    if (fds.back().revents) break;
    if (ready > 0) svc_getreq_poll(fds.data(), ready);
    if (state_->DropAll) {
      state_->DropAll = false;
      state_->Front->dropAfter_ = -1;
      for (int i = 0; i < svc_max_pollfd; ++i)
        if (svc_pollfd[i].fd >= 0 && svc_pollfd[i].fd != state_->Listener->xp_fd)
          ::shutdown(svc_pollfd[i].fd, SHUT_RDWR);
    }
    // A client gone without destroying its link frees the instrument for the next one.
    if (state_->Link != 0 && !state_->LinkAlive()) state_->DropLink();
  }
}

}  // namespace ondrevo::sim
