#include "app/StartUp.h"
#include "package/CaptionBlock.h"

// Placeholder until the start-up guards land: reads the caption and stops.
int StartUp(HINSTANCE, int)
{
    return ReadCaptionBlock(CaptionBuffer) ? 0 : -5;
}
