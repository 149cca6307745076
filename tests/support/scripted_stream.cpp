#include "tests/support/scripted_stream.h"

#include <cstring>

#include <openssl/bio.h>

namespace testbench {
namespace {

long control(BIO*, int command, long, void*)
{
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

} // namespace

BIO* ScriptedStream::bio()
{
    static BIO_METHOD* method = [] {
        BIO_METHOD* made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "scripted stream");
        BIO_meth_set_read(made, &ScriptedStream::read);
        BIO_meth_set_write(made, &ScriptedStream::write);
        BIO_meth_set_ctrl(made, control);
        return made;
    }();
    BIO* made = BIO_new(method);
    BIO_set_data(made, this);
    BIO_set_init(made, 1);
    return made;
}

int ScriptedStream::read(BIO* bio, char* buffer, int size)
{
    ScriptedStream* self = static_cast<ScriptedStream*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    while (self->next < self->pieces.size() && self->offset == self->pieces[self->next].size()) {
        ++self->next;
        self->offset = 0;
    }
    if (self->next == self->pieces.size() || size <= 0)
        return 0; // end of stream
    const std::string& piece = self->pieces[self->next];
    size_t count = piece.size() - self->offset;
    if (count > static_cast<size_t>(size))
        count = static_cast<size_t>(size);
    std::memcpy(buffer, piece.data() + self->offset, count);
    self->offset += count;
    return static_cast<int>(count);
}

int ScriptedStream::write(BIO* bio, const char* data, int length)
{
    static_cast<ScriptedStream*>(BIO_get_data(bio))->writes.append(data, static_cast<size_t>(length));
    return length;
}

} // namespace testbench
