#ifndef SERVOPROG_IMAGE_FWINFO_H
#define SERVOPROG_IMAGE_FWINFO_H

// Firmware information carried inside an image: a 104-byte block of five
// text fields (16, 16, 16, 40 and 16 bytes, each zero-terminated) found in a
// chain of length-prefixed blocks.
//
// Chain layout, every word little-endian: at the header address a 32-bit
// block length (bytes after the 8-byte header) and a 32-bit block type, then
// the payload; the next header follows right behind the payload. A block
// whose type AND 0x4FF is 0x400 and whose length is at least 104 is the
// information block; its payload starts with the five fields. A length or
// type of 0 or 0xFFFFFFFF ends the chain.
//
// FWInfo holds the search and the parsing; a subclass only supplies the bytes
// through readBytes(), so the same search runs over an image loaded into a
// converter (FWInfoHex) or over any other byte source (for example the
// drive's flash). Objects are plain local objects of their user: the
// destructor is protected and not virtual, so they are never deleted through
// a base pointer.
//
// Use: construct, setSearchStart(...), loadInfo() == 0, infoLines(lines).

#include <QStringList>
#include <QtGlobal>

#include <utility>
#include <vector>

class FWInfo
{
public:
    static constexpr quint32 kDefaultSearchStart = 0x400000;
    static constexpr int kInfoSize = 104; // 16 + 16 + 16 + 40 + 16
    static constexpr quint32 kTypeMask = 0x4FF;
    static constexpr quint32 kInfoType = 0x400;

    FWInfo() = default;
    FWInfo(const FWInfo &) = delete;
    FWInfo &operator=(const FWInfo &) = delete;

    // Copies nLength bytes of the source at nAddress to pDest: 0 on success,
    // any other value on failure (passed back unchanged by loadInfo's
    // callers as they see fit).
    virtual int readBytes(quint32 nAddress, quint32 nLength, quint8 *pDest) = 0;

    // Walks the chain from the search start and fills the five fields.
    // 0: found and valid; -1: no information block before the chain ended,
    // a header could not be read, or the chain is corrupt (a block length
    // that would wrap the 32-bit address space); -2: block found but its
    // payload could not be read; -3: payload holds non-printable bytes.
    virtual int loadInfo();
    // True when every byte of every field (also behind its terminating zero)
    // is zero or printable ASCII (0x20..0x7E).
    virtual bool isValid() const;
    // Replaces lines with the five fields (each up to its first zero byte) in
    // order: 0, or -1 with an empty list when the fields are not valid.
    virtual int infoLines(QStringList &lines) const;

    void setSearchStart(quint32 nAddress) { m_nSearchStart = nAddress; }
    // Address of the information block's header after a loadInfo() that
    // found one; meaningless otherwise.
    quint32 infoAddress() const { return m_nInfoAddress; }

protected:
    ~FWInfo() = default;

private:
    quint32 m_nSearchStart = kDefaultSearchStart;
    quint32 m_nInfoAddress = 0;
    char m_sField1[16] = {};
    char m_sField2[16] = {};
    char m_sField3[16] = {};
    char m_sField4[40] = {};
    char m_sField5[16] = {};
    // The five fields with their sizes, in order; reading, checking and
    // formatting all run over this table.
    std::vector<std::pair<char *, int>> m_fields{{m_sField1, int(sizeof m_sField1)},
                                                 {m_sField2, int(sizeof m_sField2)},
                                                 {m_sField3, int(sizeof m_sField3)},
                                                 {m_sField4, int(sizeof m_sField4)},
                                                 {m_sField5, int(sizeof m_sField5)}};
};

#endif
