// The demosaicing source compiled a second time with its vector paths switched off and
// its entry points renamed, so one program can run the SIMD and the portable
// code on the same mosaic and compare them byte for byte.
#define ORBEL_DEMOSAIC_SCALAR 1
#define DemosaicBayerRG8 PortableDemosaicBayerRG8
#define DemosaicBayerRG12 PortableDemosaicBayerRG12
#define DemosaicBayerRG12Packed PortableDemosaicBayerRG12Packed
#define DemosaicBayerRG8To12 PortableDemosaicBayerRG8To12
#define DemosaicBayerRG12To12 PortableDemosaicBayerRG12To12
#define DemosaicBayerRG12PackedTo12 PortableDemosaicBayerRG12PackedTo12
#include "camera/vendor/BayerDemosaic.cpp"
