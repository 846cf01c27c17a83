#pragma once

// Marks what the connector library hands out; everything else stays hidden.
#if defined(XVELM2KA_BUILDING)
#define XVELM2KA_API __attribute__((visibility("default")))
#else
#define XVELM2KA_API
#endif

// The factories are looked up by name, so they keep C linkage.
#define XVELM2KA_C_API extern "C" XVELM2KA_API
