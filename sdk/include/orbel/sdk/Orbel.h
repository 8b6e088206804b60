// Everything a caller of Orbel_SDK includes.
#pragma once

#include <orbel/sdk/Alert.h>
#include <orbel/sdk/Exception.h>
#include <orbel/sdk/ICamera.h>
#include <orbel/sdk/IImage.h>
#include <orbel/sdk/IPointCloud.h>
#include <orbel/sdk/ISensor.h>
#include <orbel/sdk/Logging.h>
#include <orbel/sdk/SensorError.h>
#include <orbel/sdk/SensorFactory.h>
#include <orbel/sdk/SensorState.h>
#include <orbel/sdk/SerialNumber.h>
