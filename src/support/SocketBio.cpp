#include "support/SocketBio.h"

#include <cerrno>
#include <cstdint>
#include <memory>

#include "platform/SocketIo.h"

namespace zor {

namespace {

int HandleOf(BIO* ABio) { return static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(ABio))); }

bool WouldBlock(ssize_t AResult) { return AResult < 0 && (errno == EAGAIN || errno == EWOULDBLOCK); }

int SocketBioWrite(BIO* ABio, const char* AData, int ALength) {
  BIO_clear_retry_flags(ABio);
  const ssize_t result = SendNoSignal(HandleOf(ABio), AData, static_cast<size_t>(ALength));
  if (WouldBlock(result)) BIO_set_retry_write(ABio);
  return static_cast<int>(result);
}

int SocketBioRead(BIO* ABio, char* AData, int ALength) {
  BIO_clear_retry_flags(ABio);
  const ssize_t result = ReceiveSome(HandleOf(ABio), AData, static_cast<size_t>(ALength));
  if (WouldBlock(result)) BIO_set_retry_read(ABio);
  return static_cast<int>(result);
}

long SocketBioControl(BIO*, int ACommand, long, void*) {
  // Writes are not buffered here, so a flush has nothing to do.
  return ACommand == BIO_CTRL_FLUSH ? 1 : 0;
}

struct TBioMethodFree {
  void operator()(BIO_METHOD* AMethod) const { BIO_meth_free(AMethod); }
};

const BIO_METHOD* SocketBioMethod() {
  static const std::unique_ptr<BIO_METHOD, TBioMethodFree> method = [] {
    std::unique_ptr<BIO_METHOD, TBioMethodFree> created(
        BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "zor nosignal socket"));
    if (created) {
      BIO_meth_set_write(created.get(), SocketBioWrite);
      BIO_meth_set_read(created.get(), SocketBioRead);
      BIO_meth_set_ctrl(created.get(), SocketBioControl);
    }
    return created;
  }();
  return method.get();
}

}  // namespace

BIO* NewSocketBio(int AHandle) {
  const BIO_METHOD* method = SocketBioMethod();
  BIO* bio = method != nullptr ? BIO_new(method) : nullptr;
  if (bio == nullptr) return nullptr;
  BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(AHandle)));
  BIO_set_init(bio, 1);
  return bio;
}

}  // namespace zor
