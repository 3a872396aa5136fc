#pragma once

#include <map>
#include <string>
#include <vector>

// The plug-in's shared vocabulary, fixed when the library is loaded. These are built by
// static initialisation of constants.cpp: read them from functions, never from another
// file's static initialisers.

namespace vyai {

// Settings identifiers of the host dialogs. Those ending in "_" are prefixes completed with
// a stage, model or processor id; the two "_..._setting_" infixes follow a processor name.
extern const std::string kCancelRuntimeDownloadButton;
extern const std::string kClearCacheButton;
extern const std::string kCropBoxPrefix;
extern const std::string kDeSelectAllButton;
extern const std::string kDeviceActiveSwitch;
extern const std::string kDumpingDetectionObjectTypePrefix;
extern const std::string kDumpingDetectionTimeThresholdPrefix;
extern const std::string kLibraryChoicePrefix;
extern const std::string kLineCrossingLinePrefix;
extern const std::string kLoiterDetectionObjectClassPrefix;
extern const std::string kLoiterDetectionTimeThresholdPrefix;
extern const std::string kManageDevice;
extern const std::string kMaskTypePrefix;
extern const std::string kModelDownloadRetryButton;
extern const std::string kModelNmsPrefix;
extern const std::string kPolygon;
extern const std::string kPostprocessorSettingInfix;
extern const std::string kPreprocessorSettingInfix;
extern const std::string kTriggerReferenceRunButtonPrefix;
extern const std::string kReselectRuntimeButton;
extern const std::string kResetAllDevicesButton;
extern const std::string kResetSingleDeviceButton;
extern const std::string kSelectAllButton;
extern const std::string kSelectedPipeline;
extern const std::string kVisualiseClassesPrefix;

// Metadata type identifiers; an object's type is kObjectTypePrefix followed by its class.
extern const std::string kObjectTypePrefix;
extern const std::string kFpsEventType;
extern const std::string kCountedEventType;
extern const std::string kDumpingEventType;
extern const std::string kCategoryEventType;
extern const std::string kLineCrossingEventType;
extern const std::string kLoiterAlarmEventType;

// Accelerator family names, and one runtime variant.
extern const std::string kAcceleratorGenericCpu;
extern const std::string kAcceleratorHailo;
extern const std::string kAcceleratorNvidia;
extern const std::string kAcceleratorNvidiaTensorRt;
extern const std::string kAcceleratorQualcomm;
extern const std::string kAcceleratorMemryx;
extern const std::string kAcceleratorDeepx;
extern const std::string kAcceleratorAxelera;
extern const std::string kAcceleratorSima;
extern const std::string kAcceleratorEdgeCortix;
extern const std::string kAcceleratorAmbarellaCv75;
extern const std::string kAcceleratorIntel;
extern const std::string kRuntimeVariantNativeIntelInt8;

/** Built-in base address of the runtime packages, used when RuntimesStorageURL is empty. */
extern const std::string kRuntimeStorageBaseUrl;

/** DEEPX driver versions the DEEPX runtime accepts. */
extern const std::vector<std::string> kSupportedDeepxDriverVersions;

/** Put in front of the link to the NVIDIA setup page; ends in a blank. */
extern const std::string kNvidiaHelpText;

/** The product documentation site; accelerator pages hang below it. */
extern const std::string kDocumentationSite;

/** Accelerator family -> full address of its documentation page; empty: no page. */
extern const std::map<std::string, std::string> kAcceleratorDocumentation;

} // namespace vyai
