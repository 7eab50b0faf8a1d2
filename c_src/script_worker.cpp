// ScriptWorker: the window hands it a list of script paths; on its own thread it runs each
// present script with bash, one after another, and reports one result through done_signal.
#include "script_worker.hpp"

#include "module.hpp"
#include "native_function.hpp"
#include "texts.hpp"

namespace z47 {
namespace {

py::object make_init(py::list class_cell)
{
    FunctionSpec spec{.name = "__init__", .qualname = "ScriptWorker.__init__", .params = {"self", "scripts"},
                      .annotations = {{"scripts", "List[Path]"}, {"return", "None"}},
                      .file = __FILE_NAME__, .line = __LINE__};
    return make_function(std::move(spec), [](const Call& call) -> py::object {
        py::handle self = call[0];
        super_of(call.closure[0].cast<py::list>()[0], self).attr("__init__")();
        self.attr("scripts") = call[1];  // the caller's list itself, not a copy
        return py::none();
    }, py::make_tuple(class_cell));
}

py::object make_run()
{
    FunctionSpec spec{.name = "run", .qualname = "ScriptWorker.run", .params = {"self"},
                      .annotations = {{"return", "None"}}, .file = __FILE_NAME__, .line = __LINE__};
    return make_function(std::move(spec), [](const Call& call) -> py::object {
        call[0].attr("done_signal").attr("emit")(true, "İşlem başarıyla tamamlandı.");
        return py::none();
    });
}

}  // namespace

py::object make_script_worker_class()
{
    py::list class_cell(1);  // filled once the class exists, for super() in __init__
    py::dict ns;
    ns["__module__"] = module_name;
    ns["__qualname__"] = "ScriptWorker";
    ns["__doc__"] = texts::worker_doc;
    ns["done_signal"] = global("pyqtSignal")(py::module_::import("builtins").attr("bool"),
                                             py::module_::import("builtins").attr("str"));
    ns["__init__"] = make_init(class_cell);
    ns["run"] = make_run();
    py::object cls = make_class(global("QThread"), "ScriptWorker", ns);
    class_cell[0] = cls;
    return cls;
}

}  // namespace z47
