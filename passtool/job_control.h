// The passphrase window's job: a sealed file in either direction, with this tool's texts and
// hooks for the shared job session that runs it.
#pragma once

#include <QByteArray>

#include "engine/job.h"
#include "gui/job_session.h"

namespace passtool {

class PassphraseWindow;
struct PassphraseEntry;

// The session's texts and the window's part in a job: Start reads "Abort" and the passphrase
// edits are read-only while it runs, and the entry buffers are wiped once the run no longer
// needs them.
panel::JobSessionHost SealedJobHost(PassphraseWindow& window);

// Starts EncryptV1File or DecryptV1File on `passphrase` with AES-256 GCM.
void StartSealedJob(panel::JobSession& session, engine::Direction direction,
                    const QByteArray& inputPath, const QByteArray& outputPath,
                    const PassphraseEntry& passphrase);

}  // namespace passtool
