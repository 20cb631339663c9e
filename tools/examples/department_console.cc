// A minimal console: loads the library, answers its server requests from an in-process handler,
// refreshes a department and prints the tree it got. Built for every platform the library is
// (on Windows it loads docsec.dll and svctransport.dll) and run by the test suites.
//
// Exit status 0 when the department came back as the handler described it, 1 otherwise.
#include <docsec/docsec.h>
#include <svctransport/svctransport.h>

#include <cstdio>
#include <string>

namespace {

constexpr char kTree[] =
    "<document><return code=\"0\"/>"
    "<department id=\"5\" name=\"Head office\">"
    "<department id=\"6\" name=\"Sales\"><user id=\"alice\" name=\"Alice\"/></department>"
    "<department id=\"7\" name=\"Research\"/>"
    "<computer uuid=\"0a1b2c3d-4e5f-4a6b-9c7d-8e9fa0b1c2d3\" name=\"pc-1\"/>"
    "</department></document>";

std::string NameOf(docsec::CDODepartment* department) {
  char name[260] = {};
  department->GetName(name, sizeof name);
  return name;
}

void Print(docsec::CDODepartment* department, int depth) {
  std::printf("%*s%s (%ld)", depth * 2, "", NameOf(department).c_str(), department->GetId());
  if (docsec::DataObjectList* users = department->GetUsers()) {
    std::printf(", %d user(s)", users->GetSize());
  }
  if (docsec::DataObjectList* computers = department->GetComputers()) {
    std::printf(", %d computer(s)", computers->GetSize());
  }
  std::printf("\n");
  if (docsec::DataObjectList* subs = department->GetSubDepartments()) {
    for (int i = 0; i < subs->GetSize(); ++i) {
      Print(static_cast<docsec::CDODepartment*>(subs->GetAt(i)), depth + 1);
    }
  }
}

}  // namespace

int main() {
  // The library started when it was loaded and stops when it is unloaded.
  std::string seen;
  docsec::SvcTransportSetHandler([&seen](int entry_point, const std::string& request) {
    seen = std::to_string(entry_point) + " " + request;
    return request.find("GetDepartmentTreeView") != std::string::npos ? std::string(kTree)
                                                                      : std::string();
  });
  int ok = 0;
  {
    docsec::CDODepartment root;
    root.SetId(5);
    ok = root.RefreshSubObjects(1, 1, 1, 1, 0);
    std::printf("request: %s\n", seen.c_str());
    if (ok == 1) Print(&root, 0);
    docsec::DataObjectList* subs = root.GetSubDepartments();
    ok = ok == 1 && NameOf(&root) == "Head office" && subs != nullptr && subs->GetSize() == 2 &&
         root.GetComputers() != nullptr && root.GetComputers()->GetSize() == 1;
  }
  docsec::SvcTransportSetHandler(nullptr);
  std::printf("%s\n", ok ? "department refreshed" : "department NOT refreshed as described");
  return ok ? 0 : 1;
}
