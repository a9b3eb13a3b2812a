#include "desktop/windows/installer/steps/downloadable_resources.h"

#include <algorithm>

#include "base/base64.h"
#include "base/strings/string_util.h"

namespace installer {

namespace {

// The digests of this build's resource files. This build's packages are
// made by its tests, and each of its resource files holds the text
// "kavor resource " + its relative path ("/" separated) + "\n"; a build
// that ships real paks carries their digests here instead. Rows come in
// pairs: a pak, then its ".info" companion.
const DownloadableResource kDownloadableResources[kDownloadableResourceCount] =
    {
        // kavor_100_percent.pak
        {"a2F2b3JfMTAwX3BlcmNlbnQucGFr", "5WgPGojth/FYTp7EKhRqzZ8ejBE="},
        // kavor_100_percent.pak.info
        {"a2F2b3JfMTAwX3BlcmNlbnQucGFrLmluZm8=",
         "lhusM5u4Is7D6NE9pjfgAHPneZo="},
        // localization/be.pak
        {"bG9jYWxpemF0aW9uL2JlLnBhaw==", "5kX7qH/pAIpyAGk6F4w5s7jkeh0="},
        // localization/be.pak.info
        {"bG9jYWxpemF0aW9uL2JlLnBhay5pbmZv", "RF1ZnGl7IfnI0ow6dfKNa/nlob8="},
        // localization/bg.pak
        {"bG9jYWxpemF0aW9uL2JnLnBhaw==", "0tJE/LTCpGQ2UTrSx5xSIuMRjKw="},
        // localization/bg.pak.info
        {"bG9jYWxpemF0aW9uL2JnLnBhay5pbmZv", "HjNiZxTdcN/QIJXvDp6IJC80/HY="},
        // localization/bn.pak
        {"bG9jYWxpemF0aW9uL2JuLnBhaw==", "5GiEbiVvGz2kIqGL+P0dU4LG3Ho="},
        // localization/bn.pak.info
        {"bG9jYWxpemF0aW9uL2JuLnBhay5pbmZv", "Fc5t7I6a9OcbcvE4wo0Ll58gCHU="},
        // localization/ca.pak
        {"bG9jYWxpemF0aW9uL2NhLnBhaw==", "0cYTYbvJppNC14lyK74ybSEkHAs="},
        // localization/ca.pak.info
        {"bG9jYWxpemF0aW9uL2NhLnBhay5pbmZv", "Q91Ib1t07ugv0hi4XhfP+Rfsj6o="},
        // localization/cs.pak
        {"bG9jYWxpemF0aW9uL2NzLnBhaw==", "6Y/ptGrnBDh6QpTkTGRM2HCaH38="},
        // localization/cs.pak.info
        {"bG9jYWxpemF0aW9uL2NzLnBhay5pbmZv", "T70zo6x1MtQ8Xk8K0mtsWodqmeo="},
        // localization/da.pak
        {"bG9jYWxpemF0aW9uL2RhLnBhaw==", "ULGXJDbnOzsvKCMtKxacyrTFzBQ="},
        // localization/da.pak.info
        {"bG9jYWxpemF0aW9uL2RhLnBhay5pbmZv", "pQHAIHV+h5JjE1K6OHK1eKTNmsY="},
        // localization/de.pak
        {"bG9jYWxpemF0aW9uL2RlLnBhaw==", "E8H3VidDPgO3e3L5j4o3EVD8Pns="},
        // localization/de.pak.info
        {"bG9jYWxpemF0aW9uL2RlLnBhay5pbmZv", "Vo8AHQ6igVgnQJ1YpQG/JwzUYnE="},
        // localization/el.pak
        {"bG9jYWxpemF0aW9uL2VsLnBhaw==", "bHPTuDwFbfYwJWJXGhoErKo4Ov8="},
        // localization/el.pak.info
        {"bG9jYWxpemF0aW9uL2VsLnBhay5pbmZv", "wGSAI4jPLvCNl6kYo7QbnhLzJ+Y="},
        // localization/en-GB.pak
        {"bG9jYWxpemF0aW9uL2VuLUdCLnBhaw==", "MAJNZI0kkrXC1cIQ/7MlQ/xOsV0="},
        // localization/en-GB.pak.info
        {"bG9jYWxpemF0aW9uL2VuLUdCLnBhay5pbmZv",
         "UVyVFldYDyTROovB0ci5cx7Cmv0="},
        // localization/en-US.pak
        {"bG9jYWxpemF0aW9uL2VuLVVTLnBhaw==", "hgUN7mJXwGzP/ymwDLFnSx5D09k="},
        // localization/en-US.pak.info
        {"bG9jYWxpemF0aW9uL2VuLVVTLnBhay5pbmZv",
         "nrkCa700Lq2tJvprT3AJ6e8DdIk="},
        // localization/es.pak
        {"bG9jYWxpemF0aW9uL2VzLnBhaw==", "EVND/QzZfTSM0OKYm9sHyApUodk="},
        // localization/es.pak.info
        {"bG9jYWxpemF0aW9uL2VzLnBhay5pbmZv", "1aS3rW6+FI3WsxbsfTtQXtHOzwE="},
        // localization/es-419.pak
        {"bG9jYWxpemF0aW9uL2VzLTQxOS5wYWs=", "RB27iYKQIzPB05hYrKORZe1P6TM="},
        // localization/es-419.pak.info
        {"bG9jYWxpemF0aW9uL2VzLTQxOS5wYWsuaW5mbw==",
         "wefVf/KxsIkCXTZo+sQtHbmJxe0="},
        // localization/fi.pak
        {"bG9jYWxpemF0aW9uL2ZpLnBhaw==", "ZRd65ZUpYw9sWmC92YKRa366hUs="},
        // localization/fi.pak.info
        {"bG9jYWxpemF0aW9uL2ZpLnBhay5pbmZv", "0Hr1R8E7sXFUQ42OFDEbbMJs1AU="},
        // localization/fil.pak
        {"bG9jYWxpemF0aW9uL2ZpbC5wYWs=", "ScjFhZBj5Qh3eBPZBuO4jhw88o4="},
        // localization/fil.pak.info
        {"bG9jYWxpemF0aW9uL2ZpbC5wYWsuaW5mbw==",
         "3UNRiUup0zYelcGr8eH1yVXwtwE="},
        // localization/fr.pak
        {"bG9jYWxpemF0aW9uL2ZyLnBhaw==", "IiWyaDgPgcb8bPUC+ZYf/vTs84w="},
        // localization/fr.pak.info
        {"bG9jYWxpemF0aW9uL2ZyLnBhay5pbmZv", "jsdmGpmBBXTTFIAA+JWTcspJqAk="},
        // localization/fr-CA.pak
        {"bG9jYWxpemF0aW9uL2ZyLUNBLnBhaw==", "M/U+5DCBrxjCj/dGgPb1FBCUkB0="},
        // localization/fr-CA.pak.info
        {"bG9jYWxpemF0aW9uL2ZyLUNBLnBhay5pbmZv",
         "HKqZk9B8nWGMDlCvUq9Vcw+pqws="},
        // localization/hi.pak
        {"bG9jYWxpemF0aW9uL2hpLnBhaw==", "DwQDcE9/KV557M0I0EwnONziTSU="},
        // localization/hi.pak.info
        {"bG9jYWxpemF0aW9uL2hpLnBhay5pbmZv", "/fEEdIsQ+HEj6wJ6FnxF08nIaZM="},
        // localization/hr.pak
        {"bG9jYWxpemF0aW9uL2hyLnBhaw==", "r7nBuQHP9PPvFL0ZKWu4oNJZS1s="},
        // localization/hr.pak.info
        {"bG9jYWxpemF0aW9uL2hyLnBhay5pbmZv", "t60EH0P2t4hlsibwjSzyJJtc7Fg="},
        // localization/hu.pak
        {"bG9jYWxpemF0aW9uL2h1LnBhaw==", "HHqMk9xVXiDkKvDQaZ96C7DpwnE="},
        // localization/hu.pak.info
        {"bG9jYWxpemF0aW9uL2h1LnBhay5pbmZv", "hpRaPU0UYrmYETfR72MpTVrRamc="},
        // localization/id.pak
        {"bG9jYWxpemF0aW9uL2lkLnBhaw==", "7zO9Sh9u49mmveL3EXfFhI89ql0="},
        // localization/id.pak.info
        {"bG9jYWxpemF0aW9uL2lkLnBhay5pbmZv", "hNig3w1TPeNPpFC7jWtt0RJw17E="},
        // localization/it.pak
        {"bG9jYWxpemF0aW9uL2l0LnBhaw==", "GHL5xHRUKelg5C0v+gwrsYuWcf0="},
        // localization/it.pak.info
        {"bG9jYWxpemF0aW9uL2l0LnBhay5pbmZv", "bTg3ObUltlUEkQH8UzehWtXrtgw="},
        // localization/ja.pak
        {"bG9jYWxpemF0aW9uL2phLnBhaw==", "ws8IIeBbYZ4DpvsxITCZNMbU5eU="},
        // localization/ja.pak.info
        {"bG9jYWxpemF0aW9uL2phLnBhay5pbmZv", "OwULl+kAx4AxDbiVHZgNcukIcEo="},
        // localization/ko.pak
        {"bG9jYWxpemF0aW9uL2tvLnBhaw==", "vQOuYrKrAXjPI/cM8eIqtBezXtc="},
        // localization/ko.pak.info
        {"bG9jYWxpemF0aW9uL2tvLnBhay5pbmZv", "AtRpMgpGMw3BEg0/nTHq3qBFMKE="},
        // localization/lt.pak
        {"bG9jYWxpemF0aW9uL2x0LnBhaw==", "41Q2xulPuWlBffd5So4ry6QHiGE="},
        // localization/lt.pak.info
        {"bG9jYWxpemF0aW9uL2x0LnBhay5pbmZv", "6kXMhnaZPxRa9f7chnPI5ZGFllY="},
        // localization/lv.pak
        {"bG9jYWxpemF0aW9uL2x2LnBhaw==", "wuYnV37v2JyyIXY0cqOyvhMtNDk="},
        // localization/lv.pak.info
        {"bG9jYWxpemF0aW9uL2x2LnBhay5pbmZv", "1T8HHZdD2bd0MqJM7952PyeUmCw="},
        // localization/ms.pak
        {"bG9jYWxpemF0aW9uL21zLnBhaw==", "STIuDTnnwFMIfDt0BP4oF78U3L4="},
        // localization/ms.pak.info
        {"bG9jYWxpemF0aW9uL21zLnBhay5pbmZv", "E3EgDYutMw5zapafBoI/VzTyW04="},
        // localization/nb.pak
        {"bG9jYWxpemF0aW9uL25iLnBhaw==", "TIZ6qD0b7B0WPxLLqkrxfOzCQGc="},
        // localization/nb.pak.info
        {"bG9jYWxpemF0aW9uL25iLnBhay5pbmZv", "I1nznUeS4oSODwZqZKet2PfX5RA="},
        // localization/nl.pak
        {"bG9jYWxpemF0aW9uL25sLnBhaw==", "bAh5A98P3lmfVDq+qs1jzdzImt0="},
        // localization/nl.pak.info
        {"bG9jYWxpemF0aW9uL25sLnBhay5pbmZv", "DBlGXULovHLalkA2pYfcG1Fugqg="},
        // localization/pl.pak
        {"bG9jYWxpemF0aW9uL3BsLnBhaw==", "jspuCu+JlvFCRlOLko2/0LBWCe4="},
        // localization/pl.pak.info
        {"bG9jYWxpemF0aW9uL3BsLnBhay5pbmZv", "ZTuJ+qB1C8j68XUzdxAensuK7d0="},
        // localization/pt-BR.pak
        {"bG9jYWxpemF0aW9uL3B0LUJSLnBhaw==", "Q/69dtsX9FHlq4Oiq7jyEwFMoKQ="},
        // localization/pt-BR.pak.info
        {"bG9jYWxpemF0aW9uL3B0LUJSLnBhay5pbmZv",
         "aOazgRxO00Iqu7LOCFA1gFp8HeI="},
        // localization/pt-PT.pak
        {"bG9jYWxpemF0aW9uL3B0LVBULnBhaw==", "wBYO7hqkUhgWAznDqeNzJHd7mIU="},
        // localization/pt-PT.pak.info
        {"bG9jYWxpemF0aW9uL3B0LVBULnBhay5pbmZv",
         "Uxeahq46V99FOgIjlL8mKcc4Ubo="},
        // localization/ro.pak
        {"bG9jYWxpemF0aW9uL3JvLnBhaw==", "wQjynk+SEWmCypGZ1zaX0yhITYo="},
        // localization/ro.pak.info
        {"bG9jYWxpemF0aW9uL3JvLnBhay5pbmZv", "/hQxrETEqcyracQxmsaK+0EjcO0="},
        // localization/ru.pak
        {"bG9jYWxpemF0aW9uL3J1LnBhaw==", "yeog5uMZHtbFAnPHWrajc5TVipE="},
        // localization/ru.pak.info
        {"bG9jYWxpemF0aW9uL3J1LnBhay5pbmZv", "kGtZrb6incivN58eGrTE1/bKJGo="},
        // localization/sk.pak
        {"bG9jYWxpemF0aW9uL3NrLnBhaw==", "LYrtvEcwkJDair3WTCbw0Z3HHa0="},
        // localization/sk.pak.info
        {"bG9jYWxpemF0aW9uL3NrLnBhay5pbmZv", "OptPwt/aTD5uCm3BwSlpD9O/EV4="},
        // localization/sr.pak
        {"bG9jYWxpemF0aW9uL3NyLnBhaw==", "iFDocmqKovXlqOGLVKVarQQHj/w="},
        // localization/sr.pak.info
        {"bG9jYWxpemF0aW9uL3NyLnBhay5pbmZv", "GISHwxgFZMjK5T4b0PyGi9jTiRw="},
        // localization/sv.pak
        {"bG9jYWxpemF0aW9uL3N2LnBhaw==", "q8SgyW5YVohYNPylg6riU31ONC0="},
        // localization/sv.pak.info
        {"bG9jYWxpemF0aW9uL3N2LnBhay5pbmZv", "r3jMCqzWj4JSdITZHXBmYm6vwfA="},
        // localization/sw.pak
        {"bG9jYWxpemF0aW9uL3N3LnBhaw==", "gmyxgZIJo7QuY65QcOACE51erQ8="},
        // localization/sw.pak.info
        {"bG9jYWxpemF0aW9uL3N3LnBhay5pbmZv", "FsX9hn+MhjBvszhAB3XQcn8EFUQ="},
        // localization/ta.pak
        {"bG9jYWxpemF0aW9uL3RhLnBhaw==", "bmqbjXEpS3Qhv/uFyDs8swrRWpY="},
        // localization/ta.pak.info
        {"bG9jYWxpemF0aW9uL3RhLnBhay5pbmZv", "z1XeTCaACJs+tDSWhjlnsgp7doE="},
        // localization/te.pak
        {"bG9jYWxpemF0aW9uL3RlLnBhaw==", "O6nxppGoOG+SyVOveLePk7TK2Ng="},
        // localization/te.pak.info
        {"bG9jYWxpemF0aW9uL3RlLnBhay5pbmZv", "bYSCqq4eJLzXbYYF8paV7ez+bzM="},
        // localization/th.pak
        {"bG9jYWxpemF0aW9uL3RoLnBhaw==", "2yv/HH2OYhqz+wANzujK2gWdF+I="},
        // localization/th.pak.info
        {"bG9jYWxpemF0aW9uL3RoLnBhay5pbmZv", "FQX5QcgF8dDgoMiPTod7e0kxWi0="},
        // localization/tr.pak
        {"bG9jYWxpemF0aW9uL3RyLnBhaw==", "r9eXH3+Or4dLtf1gkEKp1bwmBO4="},
        // localization/tr.pak.info
        {"bG9jYWxpemF0aW9uL3RyLnBhay5pbmZv", "iJ9yQ3jpZLpbCsn3ZrEnWniqS2c="},
        // localization/uk.pak
        {"bG9jYWxpemF0aW9uL3VrLnBhaw==", "mlf/4ejaGmWc8RzX4MaRf4shj3c="},
        // localization/uk.pak.info
        {"bG9jYWxpemF0aW9uL3VrLnBhay5pbmZv", "70jL5l4hkuCoPSCA6N8+vG31ca0="},
        // localization/vi.pak
        {"bG9jYWxpemF0aW9uL3ZpLnBhaw==", "2wg+q6UzEBPuc3BhCGazTIjK+AQ="},
        // localization/vi.pak.info
        {"bG9jYWxpemF0aW9uL3ZpLnBhay5pbmZv", "n9ZdCWsJnB3zWL1/TJydtCSl7F4="},
        // localization/zh-CN.pak
        {"bG9jYWxpemF0aW9uL3poLUNOLnBhaw==", "11fRe296EIKKcJOA7xpwZLJ3mtg="},
        // localization/zh-CN.pak.info
        {"bG9jYWxpemF0aW9uL3poLUNOLnBhay5pbmZv",
         "0zE5DWAhoAAYqAVdErp8XHk39fk="},
        // localization/zh-TW.pak
        {"bG9jYWxpemF0aW9uL3poLVRXLnBhaw==", "7DBg0amAVn8xL12n4SPPECmJEzU="},
        // localization/zh-TW.pak.info
        {"bG9jYWxpemF0aW9uL3poLVRXLnBhay5pbmZv",
         "vmQ39SlY4ueF6avGGV7RW2k+BHs="},
        // kavor_200_percent.pak
        {"a2F2b3JfMjAwX3BlcmNlbnQucGFr", "LTN0YMOYsJIZqwTKRWIIV+tptvs="},
        // kavor_200_percent.pak.info
        {"a2F2b3JfMjAwX3BlcmNlbnQucGFrLmluZm8=",
         "4tfMPTfG5R7NKUMqwX+3Pp+uzWk="},
        // kavor_125_percent.pak
        {"a2F2b3JfMTI1X3BlcmNlbnQucGFr", "Zx78I/Pt167Djsw4A8V7930G1w0="},
        // kavor_125_percent.pak.info
        {"a2F2b3JfMTI1X3BlcmNlbnQucGFrLmluZm8=",
         "oMfPAW/RfeD4WZ+9eh28qtbFgVI="},
        // kavor_150_percent.pak
        {"a2F2b3JfMTUwX3BlcmNlbnQucGFr", "q2guddFd3sVea9tDt4vhAM7dd20="},
        // kavor_150_percent.pak.info
        {"a2F2b3JfMTUwX3BlcmNlbnQucGFrLmluZm8=",
         "ujI0M8d5cNyoCUZQ4/S80W37o5I="},
        // kavor_250_percent.pak
        {"a2F2b3JfMjUwX3BlcmNlbnQucGFr", "LupJ0P5XHw8JL/KtIRjb4C9fjUk="},
        // kavor_250_percent.pak.info
        {"a2F2b3JfMjUwX3BlcmNlbnQucGFrLmluZm8=",
         "4PSq1rKJBdBgEtvPgytLg0wmIIM="},

};

}  // namespace

const DownloadableResource* GetDownloadableResources() {
  return kDownloadableResources;
}

std::string DecodeResourcePath(const DownloadableResource& resource) {
  std::string path;
  if (!resource.path_base64 ||
      !base::Base64Decode(resource.path_base64, &path)) {
    return std::string();
  }
  return path;
}

bool IsDownloadableResourcePath(const std::string& path) {
  std::string name = path;
  std::replace(name.begin(), name.end(), '\\', '/');
  if (name.empty())
    return false;
  for (size_t i = 0; i < kDownloadableResourceCount; ++i) {
    if (base::EqualsCaseInsensitiveASCII(
            DecodeResourcePath(kDownloadableResources[i]), name)) {
      return true;
    }
  }
  return false;
}

base::FilePath GetResourceFilePath(const base::FilePath& folder,
                                   const DownloadableResource& resource) {
  return folder.Append(
      base::FilePath::FromUTF8Unsafe(DecodeResourcePath(resource))
          .NormalizePathSeparators());
}

}  // namespace installer
