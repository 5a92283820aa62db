#!/usr/bin/python3
"""Checks of korvalen.dashboard.json, one command each:

  check.py lint DASHBOARD
      the conventions that keep it importable anywhere and honest about what it shows
  check.py queries DASHBOARD TESTS RULES
      every panel's query evaluated by `promtool test rules` on TESTS' series, against its samples
  check.py types DASHBOARD PACKAGES
      the JSON type-checked by tsc against @grafana/schema as installed in PACKAGES
  check.py live DASHBOARD PROGRAMS RULES SENSORS
      every query run by a real Prometheus scraping node_exporter with korvalen-prometheus's files
"""
import json
import os
import re
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

import yaml

DATASOURCE = {"type": "prometheus", "uid": "${datasource}"}
# A metric of the dashboard's queries, with its matchers if it has any.
SELECTOR = re.compile(r'\b(korvalen_[a-z_]+|ALERTS)\b(\{[^}]*\})?')


def fail(message):
    sys.exit(f"dashboard: {message}")


def panels_of(dashboard):
    """Each panel but the rows, with the variable its row repeats by (None outside such a row)."""
    repeat = None
    for panel in dashboard["panels"]:
        if panel["type"] == "row":
            repeat = panel.get("repeat")
            continue
        yield panel, repeat


def queries_of(dashboard):
    """(panel title, refId, expr, repeat) for every query of every panel."""
    for panel, repeat in panels_of(dashboard):
        for target in panel["targets"]:
            yield panel["title"], target["refId"], target["expr"], repeat


def lint(dashboard):
    """The conventions of Grafana's dashboard linter that matter here, one message each broken."""
    problems = []
    for key in ("__inputs", "__requires", "uid", "title", "description"):
        if not dashboard.get(key):
            problems.append(f"no {key}")
    if dashboard.get("id") is not None:
        problems.append("an id: Grafana gives it at import")
    variables = {v["name"]: v for v in dashboard["templating"]["list"]}
    source = variables.get("datasource", {})
    if source.get("type") != "datasource" or source.get("query") != "prometheus":
        problems.append("no datasource variable of Prometheus data sources")
    for name in ("job", "instance"):
        variable = variables.get(name, {})
        if variable.get("datasource") != DATASOURCE or not variable.get("multi") or not variable.get("includeAll"):
            problems.append(f"variable {name}: not a multi-value query with All of $datasource")
    for panel, _ in panels_of(dashboard):
        title = panel.get("title") or f"panel {panel.get('id')}"
        if not panel.get("description"):
            problems.append(f"{title}: no description")
        if panel.get("datasource") != DATASOURCE:
            problems.append(f"{title}: data source not $datasource")
        if panel["type"] == "timeseries" and not panel["fieldConfig"]["defaults"].get("unit"):
            problems.append(f"{title}: no unit")
        for target in panel["targets"]:
            where = f"{title} {target['refId']}"
            if target.get("datasource") != DATASOURCE:
                problems.append(f"{where}: data source not $datasource")
            for metric, matchers in SELECTOR.findall(target["expr"]):
                for needed in ('job=~"$job"', 'instance=~"$instance"'):
                    if needed not in matchers:
                        problems.append(f"{where}: {metric} without {needed}")
    # No data source uid but the variable's, anywhere: an import elsewhere would point at nothing.
    for uid in re.findall(r'"uid": ("[^"]*")', json.dumps(dashboard)):
        if uid not in ('"${datasource}"', '"-- Grafana --"', json.dumps(dashboard["uid"])):
            problems.append(f"a data source uid written in: {uid}")
    return problems


def substituted(expr, variables, repeat):
    """expr as Grafana sends it: a variable of one value as that value, of several as (a|b), the
    variable a row repeats by as the first value, that row's, and anything else ($1) as it is."""
    def value(match):
        name = match.group(1) or match.group(2)
        if name not in variables:
            return match.group(0)
        values = variables[name]
        if not isinstance(values, list):
            return str(values)
        # Escaped for a regular expression inside a PromQL string: 127\\.0.
        escaped = [re.escape(value).replace("\\", "\\\\") for value in values]
        if name == repeat or len(values) == 1:
            return escaped[0]
        return "(" + "|".join(escaped) + ")"
    return re.sub(r'\$\{(\w+)\}|\$(\w+)', value, expr)


def promtool_tests(dashboard, tests, rules):
    """The `promtool test rules` file for the dashboard's queries and TESTS' expectations."""
    expected = tests["panels"]
    cases, seen = [], set()
    for title, ref, expr, repeat in queries_of(dashboard):
        samples = expected.get(title, {}).get(ref)
        if samples is None:
            fail(f"{title} {ref}: no samples to expect in the tests")
        seen.add((title, ref))
        cases.append({"expr": f"# {title} {ref}\n" + substituted(expr, tests["variables"], repeat),
                      "eval_time": tests["eval_time"],
                      "exp_samples": [{"labels": labels, "value": value} for labels, value in samples.items()]})
    for title, refs in expected.items():
        for ref in refs:
            if (title, ref) not in seen:
                fail(f"{title} {ref}: samples expected of no query")
    return {"rule_files": [os.path.abspath(rules)], "evaluation_interval": "1m",
            "tests": [{"interval": "1m", "input_series": tests["input_series"], "promql_expr_test": cases}]}


def queries(dashboard, tests_path, rules):
    with open(tests_path, encoding="utf-8") as file:
        tests = yaml.safe_load(file)
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "dashboard.test.yml")
        with open(path, "w", encoding="utf-8") as file:
            json.dump(promtool_tests(dashboard, tests, rules), file, ensure_ascii=False)
        return subprocess.run(["promtool", "test", "rules", path]).returncode


# The TypeScript that holds the dashboard to Grafana's own types. A JSON document holds a string
# enum's values, not the enum: Json<T> says so, as the types' users write it.
TYPES_HEAD = """\
import type { Dashboard, FieldConfig, FieldConfigSource, Panel, RowPanel } from "@grafana/schema";
import type * as table from "TABLE";
import type * as timeseries from "TIMESERIES";

type Json<T> = T extends string ? `${T}` : T extends readonly (infer E)[] ? Json<E>[] : T extends object ? { [K in keyof T]: Json<T[K]> } : T;
// Each panel type's options and custom field options, where the package generates them.
interface PanelTypes {
  table: { options: table.Options; custom: table.FieldConfig };
  timeseries: { options: timeseries.Options; custom: timeseries.FieldConfig };
}
// An override's property: a field option or a custom one ("custom.lineStyle") with its value.
type Property<Options, Prefix extends string = ""> = {
  [P in keyof Options & string]-?: { id: `${Prefix}${P}`; value: Json<Options[P]> };
}[keyof Options & string];
type PanelOf<K extends keyof PanelTypes> = Omit<Json<Panel>, "type" | "options" | "fieldConfig"> & {
  type: K;
  options: Json<PanelTypes[K]["options"]>;
  fieldConfig: {
    defaults: Omit<Json<FieldConfig>, "custom"> & { custom: Json<PanelTypes[K]["custom"]> };
    overrides: Array<{
      matcher: Json<FieldConfigSource["overrides"][number]["matcher"]>;
      properties: Array<Property<Omit<FieldConfig, "custom">> | Property<PanelTypes[K]["custom"], "custom.">>;
    }>;
  };
};
// What an export adds around the model, for the import to ask and check.
interface Input { name: string; label: string; description: string; type: "datasource"; pluginId: "prometheus"; pluginName: string }
interface Requirement { type: "grafana" | "datasource" | "panel"; id: string; name: string; version: string }
"""


def panel_types(packages, plugin, name):
    """Where the package keeps a panel type's generated types: named in its exports (Grafana 12
    and later), else under its dist/ as a whole (11)."""
    with open(os.path.join(packages, "node_modules", "@grafana", "schema", "package.json")) as file:
        exports = json.load(file)["exports"]
    path = f"./dist/esm/raw/composable/{plugin}/panelcfg/x/{name}PanelCfg_types.gen"
    return "@grafana/schema" + path[1:] + ("" if path in exports else ".js")


def typescript(dashboard, packages):
    """The dashboard as TypeScript: each panel, then the model, each against its type."""
    def literal(value):
        return json.dumps(value, indent=2, ensure_ascii=False)
    model = {key: value for key, value in dashboard.items() if not key.startswith("__")}
    lines = [TYPES_HEAD.replace("TABLE", panel_types(packages, "table", "Table"))
             .replace("TIMESERIES", panel_types(packages, "timeseries", "TimeSeries"))]
    for index, panel in enumerate(dashboard["panels"]):
        kind = "Json<RowPanel>" if panel["type"] == "row" else f"PanelOf<{json.dumps(panel['type'])}>"
        lines.append(f"const panel{index} = {literal(panel)} satisfies {kind};")
    model["panels"] = "PANELS"
    panels = "[" + ", ".join(f"panel{i}" for i in range(len(dashboard["panels"]))) + "]"
    lines.append(f"export const dashboard = {literal(model)} satisfies Json<Dashboard>;".replace('"PANELS"', panels))
    lines.append(f"export const inputs = {literal(dashboard['__inputs'])} satisfies Input[];")
    lines.append(f"export const requires = {literal(dashboard['__requires'])} satisfies Requirement[];")
    lines.append(f"export const elements = {literal(dashboard.get('__elements', {}))} satisfies Record<string, never>;")
    return "\n".join(lines) + "\n"


def types(dashboard, packages):
    """tsc over the dashboard as TypeScript, in PACKAGES (its node_modules hold the types)."""
    path = os.path.join(packages, "dashboard.ts")
    with open(path, "w", encoding="utf-8") as file:
        file.write(typescript(dashboard, packages))
    tsc = os.path.join(packages, "node_modules", "typescript", "bin", "tsc")
    return subprocess.run(["node", tsc, "--noEmit", "--strict", "--exactOptionalPropertyTypes", "--target", "es2022",
                           "--module", "esnext", "--moduleResolution", "bundler", path]).returncode


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def get(url):
    with urllib.request.urlopen(url, timeout=10) as answer:
        return answer.read().decode()


def api(port, path, **query):
    """Prometheus' HTTP API at `path`, its data; an error status fails the check."""
    try:
        answer = json.loads(get(f"http://127.0.0.1:{port}/api/v1/{path}?" + urllib.parse.urlencode(query)))
    except urllib.error.HTTPError as error:  # Prometheus' answer to a query it refuses
        answer = json.loads(error.read().decode())
    if answer["status"] != "success":
        fail(f"{path} {query}: {answer}")
    return answer["data"]


def started(argv, port, folder, collector=False):
    """argv started in the background, dead with this check, as nobody where it is a collector
    run as root (as collectors run); waits until it answers on port."""
    if collector and os.geteuid() == 0:
        argv = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"] + argv
    process = subprocess.Popen(["setpriv", "--pdeathsig=KILL"] + argv, cwd=folder,
                               stdout=subprocess.DEVNULL, stderr=open(os.path.join(folder, "log"), "a"))
    for _ in range(300):
        try:
            get(f"http://127.0.0.1:{port}/metrics")
            return process
        except OSError:
            time.sleep(0.1)
    with open(os.path.join(folder, "log")) as log:
        fail(f"{argv[-1]} did not answer in 30 s:\n{log.read()}")


def live(dashboard, programs, rules, sensors):
    """Two machines as node_exporter serves korvalen-prometheus's files, one read with the sensors
    file and one without a block, scraped by Prometheus with the rules loaded; every query of the
    dashboard asked of it."""
    with tempfile.TemporaryDirectory() as folder:
        os.chmod(folder, 0o755)
        processes, ports = [], []
        try:
            for machine, run in (("read", ["korvalen-sim", "--temperatures", "45.5,38.25", "--fans", "980,-1",
                                           "--voltages", "1.2,3.3,5,12.1", "--", "korvalen-prometheus",
                                           "--sensors", sensors]),
                                 ("down", ["korvalen-prometheus"])):
                textfiles = os.path.join(folder, machine)
                os.mkdir(textfiles)
                os.chmod(textfiles, 0o755)
                subprocess.run([os.path.join(programs, run[0])] + run[1:] + [textfiles + "/korvalen.prom"],
                               check=True, env=dict(os.environ, PATH=programs + ":" + os.environ["PATH"]))
                ports.append(free_port())
                processes.append(started(["prometheus-node-exporter", "--collector.disable-defaults",
                                          "--collector.textfile", "--collector.textfile.directory=" + textfiles,
                                          f"--web.listen-address=127.0.0.1:{ports[-1]}"], ports[-1], folder, True))
            served = set()
            for port in ports:
                served |= set(re.findall(r"^(korvalen_[a-z_]+)", get(f"http://127.0.0.1:{port}/metrics"), re.M))
            targets = [f"127.0.0.1:{port}" for port in ports]
            with open(os.path.join(folder, "prometheus.yml"), "w") as file:
                json.dump({"global": {"scrape_interval": "1s", "evaluation_interval": "1s"},
                           "rule_files": [os.path.abspath(rules)],
                           "scrape_configs": [{"job_name": "node", "static_configs": [{"targets": targets}]}]}, file)
            port = free_port()
            processes.append(started(["prometheus", "--config.file=prometheus.yml", "--storage.tsdb.path=data",
                                      f"--web.listen-address=127.0.0.1:{port}"], port, folder))
            for _ in range(300):
                if len(api(port, "query", query="korvalen_up")["result"]) == 2:
                    break
                time.sleep(0.1)
            return asked(dashboard, port, targets, served)
        finally:
            for process in processes:
                process.kill()
                process.wait()


def asked(dashboard, port, targets, served):
    """The problems of the dashboard's queries asked of the Prometheus on port."""
    problems = []
    variables = {"job": ["node"], "instance": targets, "__rate_interval": "4s"}
    for name, values in (("job", ["node"]), ("instance", targets)):
        got = api(port, f"label/{name}/values", **{"match[]": "korvalen_up"})
        if sorted(got) != sorted(values):
            problems.append(f"variable {name}: {got}, not {values}")
    for title, ref, expr, repeat in queries_of(dashboard):
        result = api(port, "query", query=substituted(expr, variables, repeat))["result"]
        unknown = {metric for metric, _ in SELECTOR.findall(expr)} - served - {"ALERTS"}
        if unknown:
            problems.append(f"{title} {ref}: {sorted(unknown)} served by no exporter")
        # Every query shows something but the alerts, which fire only minutes in.
        if not result and "ALERTS" not in expr:
            problems.append(f"{title} {ref}: no samples")
    for problem in problems:
        print(f"dashboard: {problem}", file=sys.stderr)
    return 1 if problems else 0


def main():
    command, path, *rest = sys.argv[1:]
    with open(path, encoding="utf-8") as file:
        dashboard = json.load(file)
    if command == "lint":
        problems = lint(dashboard)
        for problem in problems:
            print(f"{path}: {problem}", file=sys.stderr)
        return 1 if problems else 0
    if command == "queries":
        return queries(dashboard, *rest)
    if command == "live":
        return live(dashboard, *rest)
    if command == "types":
        return types(dashboard, *rest)
    fail(f"unknown command {command}")


if __name__ == "__main__":
    sys.exit(main())
