#ifndef MEMORYJOB_H
#define MEMORYJOB_H

#include "PgmEntry.h"
#include "WorkerSession.h"

#include <QCoreApplication>
#include <QString>
#include <cstdint>
#include <functional>

class HexConv;
class HexConvSRec;
class ImageFile;
class MemoryCommands;

// What the flash and the EEPROM jobs share: a job's course (information,
// device selection, then its operation), the image a Program loads with its
// refusals, reading a range into an S-record file, and the block loop with
// its progress and cancel test. Each operation returns 0 or -1 and has
// shown its failure (the error convention of WorkerSession).
class MemoryJob
{
    // The texts belong to the worker's translation context.
    Q_DECLARE_TR_FUNCTIONS(UpdateWorker)

public:
    virtual ~MemoryJob() = default;

    // Query, select, then the job's operation.
    int run(PgmEntry &entry);

protected:
    // Whose words the job's texts are.
    enum class Wording
    {
        Flash,
        Eeprom
    };
    MemoryJob(WorkerSession &session, Wording wording);

    virtual int queryInfo() = 0;
    virtual int selectDevice(int nDevice) = 0;
    virtual int eraseMemory(PgmEntry &entry) = 0;
    virtual int programMemory(PgmEntry &entry) = 0;
    virtual int readMemory(PgmEntry &entry) = 0;

    // One memory's words for its image and its reading.
    struct Texts
    {
        QString sExamineTitle; // a file of no image type
        QString sUnknownType;
        QString sReadingState; // reading the file (untranslated), and its title
        QString sReadingTitle;
        QString sCannotRead;
        QString sNoData;
        QString sReadTitle; // Read: the job's own title, states and range refusal
        QString sReadState;
        QString sReadFailed;
        QString sReadDone;
        QString sRange;
    };
    // Read afresh each time: the language may change between runs.
    Texts texts() const;

    // The type of the job's image (its first bytes): false, shown, when it
    // has none.
    bool examineImage(const ImageFile &file);
    // Reads the image with load (which returns false when the file does not
    // load) and refuses it when it does not load, when beyond() has a
    // refusal for data outside the memory, when it holds no data there, or
    // when it is incomplete (unless the job allows it). The reader's
    // messages go to standard error and into the job's statistics. Null
    // after a refusal.
    HexConv *readImage(ImageFile &file, const PgmEntry &entry, bool bStep, const std::function<bool()> &load,
                       const std::function<QString()> &beyond);
    // The Read operation: the range of the job in a memory of nSize bytes,
    // read with commands in blocks of nBlock bytes into an S-record file.
    int readRange(PgmEntry &entry, MemoryCommands &commands, uint32_t nSize, uint32_t nBlock);
    // Runs body for each block of the range (at most nBlock bytes), then
    // shows the progress and tests the cancel. Throws like every request.
    void forEachBlock(uint32_t nOffset, uint32_t nLength, uint32_t nBlock,
                      const std::function<void(uint32_t nAddress, uint32_t n)> &body);

    WorkerSession &m_session;
    WorkerEvents &m_events;

private:
    Wording m_wording;

    void saveReadBack(HexConvSRec &image, const QString &sFile, const QString &sTitle);
};

#endif // MEMORYJOB_H
