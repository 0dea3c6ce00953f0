#include "filehashing.h"

#include "sha256.h"

void HashJob::run() {
    if (cancelled->load())
        return;
    auto result = std::make_shared<Result>();
    durablefile::Failure failure;
    durablefile::File file = root.openFile(path, durablefile::Folder::Access::Read, &failure);
    if (file.isOpen()) {
        // The state before the bytes: a file changed while it is read gets a time the index
        // does not vouch for at the next start.
        result->state.exists = result->state.regular = true;
        result->state.size = file.size();
        result->state.modified = file.modified();
        Sha256 hash;
        QByteArray buffer(1 << 20, Qt::Uninitialized);
        for (;;) {
            if (cancelled->load())
                return;
            const qint64 read = file.read(buffer.data(), buffer.size(), &failure);
            if (read < 0) {
                hash.reset();
                break;
            }
            if (read == 0) {
                result->hex = hash.hex();
                break;
            }
            hash.add(QByteArrayView(buffer.constData(), read));
            progress->fetch_add(read);
        }
    }
    result->problem = failure.text;
    if (keepOpen)
        result->file = std::move(file);
    done(std::move(result));
}
