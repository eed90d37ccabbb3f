#include "AudioChunk.h"

#include "Align.h"
#include "Assert.h"

#include <cstring>
#include <new>

AudioChunk::AudioChunk()
{
    m_pBuffer = static_cast<float*>(AlignedMalloc(kSamples * sizeof(float), 16));
    if (m_pBuffer == nullptr)
        throw std::bad_alloc();
    std::memset(m_pBuffer, 0, kSamples * sizeof(float));
}

AudioChunk::~AudioChunk()
{
    TMB_ASSERT(m_pBuffer);
    AlignedFree(m_pBuffer);
}
