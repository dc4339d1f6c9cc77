; The procedure as GIMP's procedural database reports it. GIMP stores
; parameter names in canonical form (underscores become hyphens), so
; "progress_name" reads back as "progress-name". The menu label, the image
; types and the absence of a menu path are only in pluginrc; scripts/e2e.sh
; checks them there.

(define e2e-params
  '((0 "run-mode" "Run mode")
    (13 "image" "Input image")
    (16 "drawable" "Input drawable")
    (4 "progress-name" "progress-name")
    (3 "sx0" "source coord. x0")
    (3 "sy0" "source coord. y0")
    (3 "sx1" "source coord. x1")
    (3 "sy1" "source coord. y1")
    (3 "sx2" "source coord. x2")
    (3 "sy2" "source coord. y2")
    (3 "sx3" "source coord. x3")
    (3 "sy3" "source coord. y3")
    (3 "dx0" "dest. coord. x0")
    (3 "dy0" "dest. coord. y0")
    (3 "dx1" "dest. coord. x1")
    (3 "dy1" "dest. coord. y1")
    (3 "dx2" "dest. coord. x2")
    (3 "dy2" "dest. coord. y2")
    (3 "dx3" "dest. coord. x3")
    (3 "dy3" "dest. coord. y3")
    (2 "interpolation" "interp.-index")
    (2 "pre-blur" "blur befor transf.")
    (2 "anti-aliasing" "anti-aliasing")))

(define (e2e-cases)
  (group "procedure"
    (lambda ()
      (check "known by its PDB name" 1
             (car (gimp-procedural-db-proc-exists "plug-in-tessaform")))
      (check "known by its registered name" 1
             (car (gimp-procedural-db-proc-exists "plug_in_tessaform")))
      (check "exactly one procedure of that name" '(1 ("plug-in-tessaform"))
             (let ((q (gimp-procedural-db-query "^plug-in-tessaform$" "" "" "" "" "" "")))
               (list (car q) (cadr q))))
      (let ((info (gimp-procedural-db-proc-info "plug-in-tessaform")))
        (check "blurb" "Transform a Quadrangle bilinear" (list-ref info 0))
        (check "help" "Transform a Quadrangle bilinear to another Quadrangle"
               (list-ref info 1))
        (check "date" "2019" (list-ref info 4))
        (check "procedure type (GIMP_PLUGIN)" 1 (list-ref info 5))
        (check "23 parameters" 23 (list-ref info 6))
        (check "one return value" 1 (list-ref info 7)))))

  (group "parameters"
    (lambda ()
      (for-each
       (lambda (i want)
         (check (string-append "parameter " (number->string i)) want
                (gimp-procedural-db-proc-arg "plug-in-tessaform" i)))
       (iota 23) e2e-params)
      (check "no parameter 23" #f
             (catch #f (gimp-procedural-db-proc-arg "plug-in-tessaform" 23)))))

  (group "return values"
    (lambda ()
      ; The status heads every answer by itself; it is not declared again.
      (check "return value 0: the new layer's ID" '(0 "new-layer" "new Layer ID")
             (gimp-procedural-db-proc-val "plug-in-tessaform" 0))
      (check "no return value 1" #f
             (catch #f (gimp-procedural-db-proc-val "plug-in-tessaform" 1))))))
