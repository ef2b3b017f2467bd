// The Python face of molstamp: Python objects in, the core's batch (batch.h)
// or the tool's run (run.h) called, Python objects out. Nothing here decides
// a key or a verdict.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/run.h"
#include "keys/batch.h"
#include "keys/check.h"
#include "keys/key_rules.h"
#include "keys/structure.h"
#include "sys/version.h"

namespace py = pybind11;

namespace {

// The strings of one iterable as the core reads them; items holds them all
// (a tuple: no other thread can drop one) while the GIL is released.
struct Strings {
  py::object items;
  std::vector<const char*> text;  // null for a missing value
  std::vector<size_t> bytes;
};

// A new reference to module.name when the caller has imported module (it is
// never imported here), else null with no error set.
PyObject* loaded_attribute(const char* module, const char* name) {
  PyObject* loaded = PyDict_GetItemString(PyImport_GetModuleDict(), module);
  if (loaded == nullptr) return nullptr;
  PyObject* attribute = PyObject_GetAttrString(loaded, name);
  if (attribute == nullptr) PyErr_Clear();
  return attribute;
}

// Whether o is an instance of module.name, false when module is not loaded.
bool is_loaded_instance(PyObject* o, const char* module, const char* name) {
  PyObject* type = loaded_attribute(module, name);
  if (type == nullptr) return false;
  int is = PyObject_IsInstance(o, type);
  Py_DECREF(type);
  if (is < 0) PyErr_Clear();
  return is == 1;
}

// Whether o is a NaN of NumPy's floating types: float64 is a float, but
// float16, float32 and longdouble are not.
bool is_numpy_nan(PyObject* o) {
  if (!is_loaded_instance(o, "numpy", "floating")) return false;
  double value = PyFloat_AsDouble(o);
  if (value == -1.0 && PyErr_Occurred() != nullptr) {
    PyErr_Clear();
    return false;
  }
  return std::isnan(value);
}

// pandas' missing values: None and float NaN (NumPy's too) in an object
// column, and, when pandas is loaded, pd.NA (its string columns) and pd.NaT.
bool is_missing(PyObject* o) {
  if (o == Py_None || (PyFloat_Check(o) && std::isnan(PyFloat_AS_DOUBLE(o)))) return true;
  // Looked up only for an object that is neither str nor bytes nor None.
  if (is_numpy_nan(o)) return true;
  for (const char* name : {"NA", "NaT"}) {
    PyObject* missing = loaded_attribute("pandas", name);
    bool same = missing == o;
    Py_XDECREF(missing);
    if (same) return true;
  }
  return false;
}

// The name of an argument, or of its item `index` (-1: the argument itself).
std::string item_name(const char* what, Py_ssize_t index) {
  return index < 0 ? what : std::string(what) + "[" + std::to_string(index) + "]";
}

// The bytes of a str (UTF-8) or bytes object; null for a missing value.
const char* text_of_object(PyObject* o, const char* what, Py_ssize_t index, size_t& bytes) {
  Py_ssize_t size = 0;
  const char* text = nullptr;
  if (PyUnicode_Check(o)) {
    text = PyUnicode_AsUTF8AndSize(o, &size);
    if (text == nullptr) {
      PyErr_Clear();
      throw py::value_error(item_name(what, index) + ": a str that UTF-8 cannot encode");
    }
  } else if (PyBytes_Check(o)) {
    text = PyBytes_AS_STRING(o);
    size = PyBytes_GET_SIZE(o);
  } else if (!is_missing(o)) {
    throw py::type_error(item_name(what, index) + ": expected str, bytes, None, NaN or NA, got " +
                         Py_TYPE(o)->tp_name);
  }
  bytes = static_cast<size_t>(size);
  return text;
}

// Every item of an iterable read before any key is computed, so that a bad
// item raises before the work starts.
Strings read_strings(py::handle iterable, const char* what) {
  PyObject* o = iterable.ptr();
  // A string is iterable too, by characters: surely not what was meant.
  if (PyUnicode_Check(o) || PyBytes_Check(o))
    throw py::type_error(std::string(what) + ": expected an iterable of strings, got one string");
  // A DataFrame iterates over its column names.
  if (is_loaded_instance(o, "pandas", "DataFrame"))
    throw py::type_error("a DataFrame: pass one column, e.g. df['inchi']");
  Strings s;
  s.items = py::reinterpret_steal<py::object>(PySequence_Tuple(o));
  if (!s.items) throw py::error_already_set();
  Py_ssize_t n = PyTuple_GET_SIZE(s.items.ptr());
  s.text.resize(static_cast<size_t>(n));
  s.bytes.resize(static_cast<size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    auto at = static_cast<size_t>(i);
    s.text[at] = text_of_object(PyTuple_GET_ITEM(s.items.ptr(), i), what, i, s.bytes[at]);
  }
  return s;
}

// The threads argument as the batch takes it.
unsigned requested_threads(long long threads) {
  if (threads < 0) throw py::value_error("threads: expected 0 (every processor) or more");
  return threads > UINT_MAX ? UINT_MAX : static_cast<unsigned>(threads);
}

// The rules of the arguments standard and validate (None, "syntax" or
// "structure"); any other validate is a ValueError.
KeyRules key_rules(bool standard, const py::object& validate) {
  KeyRules rules;
  rules.standard = standard;
  if (validate.is_none()) return rules;
  if (py::isinstance<py::str>(validate)) {
    std::string v = validate.cast<std::string>();
    if (v == "syntax") rules.validate = Validation::kSyntax;
    if (v == "structure") rules.validate = Validation::kStructure;
    if (rules.validate != Validation::kNone) return rules;
  }
  throw py::value_error("validate: expected None, 'syntax' or 'structure', got " +
                        std::string(py::repr(validate)));
}

// A str of the library's text, whatever bytes a message of its holds.
py::object text(const std::string& bytes) {
  PyObject* o =
      PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "replace");
  if (o == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(o);
}

// A new reference to the key, or to None when the library gave none.
PyObject* key_object(const BatchKey& k) {
  if (k.status != 0) {
    Py_INCREF(Py_None);
    return Py_None;
  }
  size_t bytes = strlen(k.key);
  bool ascii = true;
  for (size_t i = 0; i < bytes; ++i) ascii = ascii && static_cast<unsigned char>(k.key[i]) < 128;
  // Keys are ASCII: copied straight into a new str, without a UTF-8 decoder.
  PyObject* key = ascii ? PyUnicode_New(static_cast<Py_ssize_t>(bytes), 127)
                        : PyUnicode_FromStringAndSize(k.key, static_cast<Py_ssize_t>(bytes));
  if (key == nullptr) throw py::error_already_set();
  if (ascii) std::memcpy(PyUnicode_DATA(key), k.key, bytes);
  return key;
}

// Runs Python's signal handlers while a batch works, with the GIL; false
// once one raised (Ctrl-C), its exception left set for the calling thread.
bool no_signal_raised(void* /*context*/) {
  py::gil_scoped_acquire gil;
  return PyErr_CheckSignals() == 0;
}

py::object inchikey(const py::object& inchi, bool standard, const py::object& validate) {
  KeyRules rules = key_rules(standard, validate);
  size_t bytes = 0;
  const char* text = text_of_object(inchi.ptr(), "inchi", -1, bytes);
  BatchKey k;
  {
    py::gil_scoped_release release;
    batch_keys(&text, 1, 1, &k, library_key, BatchPoll{}, rules);
  }
  return py::reinterpret_steal<py::object>(key_object(k));
}

py::list inchikeys(const py::object& inchis, long long threads, bool standard,
                   const py::object& validate) {
  unsigned requested = requested_threads(threads);
  KeyRules rules = key_rules(standard, validate);
  Strings s = read_strings(inchis, "inchis");
  size_t n = s.text.size();
  std::vector<BatchKey> keys(n);
  bool done = false;
  {
    py::gil_scoped_release release;
    done = batch_keys(s.text.data(), n, batch_threads(requested, n), keys.data(), library_key,
                      BatchPoll{no_signal_raised, nullptr}, rules);
  }
  if (!done) throw py::error_already_set();
  py::list out(n);
  for (size_t i = 0; i < n; ++i)
    PyList_SET_ITEM(out.ptr(), static_cast<Py_ssize_t>(i), key_object(keys[i]));
  return out;
}

py::list check(const py::object& inchis, const py::object& keys, long long threads, bool standard,
               const py::object& validate, bool details) {
  unsigned requested = requested_threads(threads);
  KeyRules rules = key_rules(standard, validate);
  Strings in = read_strings(inchis, "inchis");
  Strings stored_in = read_strings(keys, "keys");
  size_t n = in.text.size();
  if (stored_in.text.size() != n)
    throw py::value_error("inchis and keys differ in length: " + std::to_string(n) + " and " +
                          std::to_string(stored_in.text.size()));
  std::vector<StoredKey> stored(n);
  for (size_t i = 0; i < n; ++i) {
    if (stored_in.text[i] != nullptr) stored[i] = StoredKey{stored_in.text[i], stored_in.bytes[i]};
  }
  // What batch_check leaves for an InChI that is missing or no candidate.
  std::vector<Verdict> verdicts(n, Verdict::kNone);
  std::vector<std::string> differences(details ? n : 0);
  bool done = false;
  {
    py::gil_scoped_release release;
    done = batch_check(in.text.data(), stored.data(), n, batch_threads(requested, n),
                       verdicts.data(), library_key, BatchPoll{no_signal_raised, nullptr}, rules,
                       details ? differences.data() : nullptr);
  }
  if (!done) throw py::error_already_set();
  const Verdict all[] = {Verdict::kAgree, Verdict::kDiffers, Verdict::kMissing, Verdict::kFailed};
  py::object words[static_cast<int>(Verdict::kNone) + 1];
  for (Verdict v : all) words[static_cast<int>(v)] = py::str(verdict_word(v));
  words[static_cast<int>(Verdict::kNone)] = py::none();
  py::list out(n);
  for (size_t i = 0; i < n; ++i) {
    py::object word = words[static_cast<int>(verdicts[i])];
    if (details) {
      // No verdict, no difference: a pair of None.
      py::object difference = verdicts[i] == Verdict::kNone ? py::none() : text(differences[i]);
      word = py::make_tuple(word, difference);
    }
    PyList_SET_ITEM(out.ptr(), static_cast<Py_ssize_t>(i), word.release().ptr());
  }
  return out;
}

// In the child: the tool's signals as a shell would give them: those Python
// catches (SIGINT) back to their defaults, and SIGXFSZ, which Python ignores
// for itself, as subprocess does. SIGPIPE stays as the interpreter has it:
// Python ignores it whatever it inherited, and ignored, a closed pipe ends the
// tool with its own status (5) as under `trap '' PIPE`, where a reset one
// would kill it (141) even there; a program that set SIG_DFL keeps that.
void default_signals() {
  for (int sig = 1; sig < NSIG; ++sig) {
    struct sigaction action;
    if (sigaction(sig, nullptr, &action) != 0) continue;
    bool caught = action.sa_handler != SIG_DFL && action.sa_handler != SIG_IGN;
    if (caught || sig == SIGXFSZ) signal(sig, SIG_DFL);
  }
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
}

// The exit status of the child, 128 + the signal that killed it; an
// interruption in Python (Ctrl-C) is passed on to the child, which is reaped
// before the exception goes up.
int wait_for(pid_t child) {
  int status = 0;
  for (;;) {
    pid_t waited;
    {
      py::gil_scoped_release release;
      waited = waitpid(child, &status, 0);
    }
    if (waited == child) break;
    if (errno != EINTR) {
      PyErr_SetFromErrno(PyExc_OSError);
      throw py::error_already_set();
    }
    if (PyErr_CheckSignals() != 0) {
      py::error_already_set interrupted;
      kill(child, SIGINT);
      {
        py::gil_scoped_release release;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
      }
      throw interrupted;
    }
  }
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

// The tool's run closes and reassigns the standard streams: it runs in a
// child process, leaving the interpreter's streams as they were.
int run(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>("molstamp"));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  // Whatever C code left in the buffers would be written twice.
  fflush(nullptr);
  pid_t child = fork();
  if (child < 0) {
    PyErr_SetFromErrno(PyExc_OSError);
    throw py::error_already_set();
  }
  if (child == 0) {
    default_signals();
    int status = run_molstamp(static_cast<int>(argv.size() - 1), argv.data());
    // As the tool's own exit would, but without Python's exit handlers.
    fflush(nullptr);
    _exit(status);
  }
  return wait_for(child);
}

}  // namespace

PYBIND11_MODULE(_molstamp, m) {
  m.doc() = "molstamp's core: InChIKeys by the InChI library, many at once on several threads.";
  m.attr("__version__") = molstamp_version();
  m.attr("library_version") = library_provenance();
  m.def("inchikey", &inchikey, py::arg("inchi"), py::kw_only(), py::arg("standard") = false,
        py::arg("validate") = py::none(),
        R"(The InChIKey of one InChI string (str or bytes), 27 characters, or None
when the InChI library gives none; a missing value (None, NaN, pd.NA,
pd.NaT) gives None. standard and validate as for inchikeys.)");
  m.def("inchikeys", &inchikeys, py::arg("inchis"), py::arg("threads") = 0, py::kw_only(),
        py::arg("standard") = false, py::arg("validate") = py::none(),
        R"(The InChIKeys of an iterable of InChI strings (list, tuple, generator,
pandas Series, NumPy object array ...), as a list aligned with it: a key, or
None where the library gives none or the item is missing (None, NaN of float
or of any NumPy floating type, pd.NA, pd.NaT). Any other item than str, bytes
or a missing value raises TypeError, naming its index, before any key is
computed; so does a DataFrame (pass one column). threads: 0 uses
every online processor, 1 the calling thread only, never more than one per
64 strings nor more than -j takes (4096); the GIL is released while the keys
are computed, and a signal's exception (KeyboardInterrupt) stops the threads
and is raised within a fraction of a second.

standard=True (the tool's -s): a non-standard InChI ("InChI=1/") gets the
standard key of its structure, None when the library derives no standard
InChI from it; a standard InChI is keyed as always. validate (--validate):
None keys what it is given; "syntax" gives None for a string the library's
syntax check refuses; "structure" also for one whose structure does not come
back (a standard InChI must come back byte for byte). Any other validate
raises ValueError. The structure calls these need run in worker processes,
one per thread, forked (never running Python) before the threads start and
ended before the call returns. A worker that ends under a string is
replaced and the string asked once more; if that worker ends too, the
string gets None (check: "failed", its difference saying how the worker
ended).)");
  m.def("check", &check, py::arg("inchis"), py::arg("keys"), py::arg("threads") = 0, py::kw_only(),
        py::arg("standard") = false, py::arg("validate") = py::none(), py::arg("details") = false,
        R"(Judges stored keys as `molstamp -c` does: a list aligned with the two
iterables (of equal length, else ValueError) holding, for each InChI, "agree"
(its key is the stored key), "differs", "missing" (no stored key: None, NaN
or empty) or "failed" (the library gives no key); None where the InChI is
missing or no candidate (it does not begin with "InC"), as in the tool. A
stored key may carry the prefix "InChIKey=". threads, standard and validate
as for inchikeys: with standard=True stored keys are judged against standard
keys, and a string validation refuses is "failed".

details=True (the tool's --difference) gives (verdict, difference) pairs:
for "differs" the parts of the key that differ, comma-separated in key order
("skeleton", "layers", "standard", "version", "protonation"), or "malformed"
when the stored key is no InChIKey; for "failed" "invalid" when validation
refused the string, else the library's reason; "" for "agree" and
"missing"; (None, None) where there is no verdict.)");
  m.def("run", &run, py::arg("argv"),
        R"(Runs the molstamp tool with the arguments argv (a list of bytes or str,
without the program name) in a child process and returns its exit status
(128 + the signal when one killed it). SIGPIPE stays as the interpreter has
it: ignored, so a closed pipe ends the tool with status 5. Its output goes to
file descriptors 1 and 2; Python's own streams are left as they were. Use
molstamp.main.)");
}
