#include "foundations/constants.h"

namespace vyai {

// Order matters below: the documentation map is keyed by the family names, so they are
// defined above it (one file, so their initialisation runs in this order).

const std::string kCancelRuntimeDownloadButton = "cancelRuntimeDownloadButton";
const std::string kClearCacheButton = "clearCacheButton";
const std::string kCropBoxPrefix = "cropBox_";
const std::string kDeSelectAllButton = "deSelectAllButton";
const std::string kDeviceActiveSwitch = "deviceActiveSwitch";
const std::string kDumpingDetectionObjectTypePrefix = "dumpingDetectionObjectType_";
const std::string kDumpingDetectionTimeThresholdPrefix = "dumpingDetectionTimeThreshold_";
const std::string kLibraryChoicePrefix = "libraryChoice_";
const std::string kLineCrossingLinePrefix = "lineCrossingLine_";
const std::string kLoiterDetectionObjectClassPrefix = "loiterDetectionObjectClass_";
const std::string kLoiterDetectionTimeThresholdPrefix = "loiterDetectionTimeThreshold_";
const std::string kManageDevice = "manageDevice";
const std::string kMaskTypePrefix = "maskType_";
const std::string kModelDownloadRetryButton = "modelDownloadRetryButton";
const std::string kModelNmsPrefix = "model_nms_";
const std::string kPolygon = "polygon";
const std::string kPostprocessorSettingInfix = "_postprocessor_setting_";
const std::string kPreprocessorSettingInfix = "_preprocessor_setting_";
const std::string kTriggerReferenceRunButtonPrefix = "triggerReferenceRunButton_";
const std::string kReselectRuntimeButton = "reselectRuntimeButton";
const std::string kResetAllDevicesButton = "resetAllDevicesButton";
const std::string kResetSingleDeviceButton = "resetSingleDeviceButton";
const std::string kSelectAllButton = "selectAllButton";
const std::string kSelectedPipeline = "selectedPipeline";
const std::string kVisualiseClassesPrefix = "visualise_classes_";

const std::string kObjectTypePrefix = "vy.vyai.";
const std::string kFpsEventType = "vy.vyai.fps";
const std::string kCountedEventType = "vy.vyai.counted";
const std::string kDumpingEventType = "vy.vyai.dumping";
const std::string kCategoryEventType = "vy.vyai.category";
const std::string kLineCrossingEventType = "vy.vyai.linecrossing";
const std::string kLoiterAlarmEventType = "vy.vyai.loiter_alarm";

const std::string kAcceleratorGenericCpu = "Generic CPU";
const std::string kAcceleratorHailo = "Hailo";
const std::string kAcceleratorNvidia = "NVIDIA";
const std::string kAcceleratorNvidiaTensorRt = "NVIDIA TensorRT";
const std::string kAcceleratorQualcomm = "Qualcomm";
const std::string kAcceleratorMemryx = "MemryX";
const std::string kAcceleratorDeepx = "DEEPX";
const std::string kAcceleratorAxelera = "Axelera";
const std::string kAcceleratorSima = "SiMa";
const std::string kAcceleratorEdgeCortix = "EdgeCortix";
const std::string kAcceleratorAmbarellaCv75 = "Ambarella CV75";
const std::string kAcceleratorIntel = "Intel";
const std::string kRuntimeVariantNativeIntelInt8 = "Native Intel INT8";

const std::string kRuntimeStorageBaseUrl =
    "https://artifacts.vyai.example.com/artifactory/vyai_open";

const std::vector<std::string> kSupportedDeepxDriverVersions = {"3.3.2"};

const std::string kNvidiaHelpText =
    "NVIDIA GPU acceleration is unavailable on this machine. A different compatible runtime "
    "will be used if available. To enable NVIDIA acceleration, follow the setup instructions "
    "at: ";

const std::string kDocumentationSite = "https://docs.vyai.example.com";

const std::map<std::string, std::string> kAcceleratorDocumentation = {
    {kAcceleratorGenericCpu, ""},
    {kAcceleratorHailo, kDocumentationSite + "/ai-accelerators-support/advanced/hailo-support"},
    {kAcceleratorNvidia, kDocumentationSite + "/ai-accelerators-support/nvidia-support"},
    {kAcceleratorNvidiaTensorRt, kDocumentationSite + "/ai-accelerators-support/nvidia-support"},
    {kAcceleratorQualcomm, ""},
    {kAcceleratorMemryx, ""},
    {kAcceleratorDeepx, kDocumentationSite + "/ai-accelerators-support/advanced/deepx-support"},
    {kAcceleratorAxelera, ""},
    {kAcceleratorSima, ""},
    {kAcceleratorEdgeCortix, ""},
    {kAcceleratorAmbarellaCv75, ""},
    {kAcceleratorIntel, kDocumentationSite + "/ai-accelerators-support/intel-support"},
    {kRuntimeVariantNativeIntelInt8,
        kDocumentationSite + "/ai-accelerators-support/intel-support"},
};

} // namespace vyai
