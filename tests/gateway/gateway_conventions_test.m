% Calls written as MATLAB and Octave users write them: an options struct (as
% optimset makes one), [] for an absent term, fminunc's Display words, and a
% sparse matrix refused with the fix spelled out.
function gateway_conventions_test ()
  randn ("seed", 24);
  n = 30;  A = randn (n);  P = (A + A') / 2;  G = randn (n);  Q = G * G' / n + eye (n);
  z = zeros (n, 1);  x0 = ones (n, 1);
  base = {x0, P, z, 0, Q, z, 0, n, 1e5};
  [xw, rw, iw] = Brelvane (base{:}, "Acceleration", "ritz", "Tolerance", 1e-9);

  % An options struct gives the pairs' results bit for bit; a pair after it
  % overrides a field; optimset's empty fields are passed over.
  same = @(what, x, r, info) assert_same_results (what, x, r, info, xw, rw, iw);
  [x, r, info] = Brelvane (base{:}, struct ("acceleration", "ritz", "TOLERANCE", 1e-9));
  same ("struct", x, r, info);
  [x, r, info] = Brelvane (base{:}, struct ("Acceleration", "ritz", "Tolerance", 0.5), "Tolerance", 1e-9);
  same ("struct and a pair", x, r, info);
  opts = optimset ("Display", "off");
  opts.Acceleration = "ritz";  opts.Tolerance = 1e-9;
  [x, r, info] = Brelvane (base{:}, opts);
  same ("optimset struct", x, r, info);
  text = evalc ("Brelvane (base{:}, optimset ('Display', 'final'));");
  assert (strncmp (text, "Brelvane: ", 10), text);

  % An optimset name says what to use instead.
  message = error_message (@() Brelvane (base{:}, optimset ("TolFun", 1e-6)));
  assert (! isempty (strfind (message, "Unknown option 'TolFun'")), message);
  assert (! isempty (strfind (message, "use 'Tolerance'")), message);
  assert_brelvane_error ("Brelvane:unknownOption", 1, [base, {struct("MaxIter", 10)}]);
  assert_brelvane_error ("Brelvane:badOption", 1, [base, {struct("Tolerance", {1e-6, 1e-8})}]);

  % [] (or zeros(0, 1)) for c and d means zeros, [] for alpha and beta 0.
  [x, r, info] = Brelvane (x0, P, [], [], Q, zeros (0, 1), [], n, 1e5, "Acceleration", "ritz", ...
                           "Tolerance", 1e-9);
  same ("[] terms", x, r, info);

  % 'none' is 'off'; 'notify' prints the final line only when a tolerance
  % given was not met.
  assert (evalc ("Brelvane (base{:}, 'Display', 'none', 'Tolerance', 1e-9);"), "");
  assert (evalc ("Brelvane (base{:}, 'Display', 'notify', 'Tolerance', 1e-9);"), "");
  assert (evalc ("Brelvane (base{1:8}, 5, 'Display', 'notify');"), "");
  text = evalc ("Brelvane (base{1:8}, 5, 'Display', 'Notify', 'Tolerance', 1e-9);");
  assert (! isempty (regexp (text, "^Brelvane: ran all 5 iterations; ", "once")), text);

  % A sparse matrix: convert it with full(), which takes n*n doubles.
  message = error_message (@() Brelvane (x0, P, z, 0, sparse (Q), z, 0, n, 10));
  assert (! isempty (strfind (message, "pass full(Q), whose n*n = 900 doubles take 7 kB")), message);
  disp ("gateway conventions: all assertions passed");
end

function assert_same_results (what, x, r, info, xw, rw, iw)
  assert_same_doubles (x, xw, [what ": x"]);
  assert_same_doubles (r, rw, [what ": r"]);
  assert (info, iw, what);
end

function message = error_message (call)
  message = "";
  try
    call ();
  catch err
    message = err.message;
  end
end
